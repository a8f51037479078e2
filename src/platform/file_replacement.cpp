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

void StartFlush(NewContent& content, Background& flushes) {
  if (IsOpen(content) && content.write_error == 0) content.flush.Start(flushes, content.temp);
}

std::optional<CommitResult> Unready(NewContent& content) {
  using Outcome = CommitResult::Outcome;
  if (!IsOpen(content)) return Result(content, Outcome::kNotBegun, content.begin_error);
  if (content.write_error != 0) return Result(content, Outcome::kWriteFailed, content.write_error);
  if (ErrorCode error = content.flush.Finish(content.temp); error != 0) {
    return Result(content, Outcome::kRefused, error);
  }
  if (!content.original.Unchanged(content.path)) {
    return Result(content, Outcome::kChangedMeanwhile, kChangedMeanwhile);
  }
  return std::nullopt;
}

}  // namespace platform
