#include "platform/file_replacement.h"

#include "platform/file_system.h"

namespace platform {

void PendingFlush::Start(Background& flushes, NativeHandle file) {
  flushes_ = &flushes;
  flushes.Post([this, file] { error_ = sys::SyncFile(file); });
}

ErrorCode PendingFlush::Finish(NativeHandle file) {
  if (flushes_ == nullptr) return sys::SyncFile(file);
  flushes_->WaitUntilPending(0);
  return error_;
}

void PendingFlush::Wait() {
  if (flushes_ != nullptr) flushes_->WaitUntilPending(0);
}

}  // namespace platform
