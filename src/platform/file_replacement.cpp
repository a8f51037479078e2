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

void ReplacementBase::StartFlush(Background& flushes) {
  if (IsOpen() && write_error_ == 0) flush_.Start(flushes, temp_);
}

std::optional<CommitResult> ReplacementBase::Unready() {
  using Outcome = CommitResult::Outcome;
  if (!IsOpen()) return Result(Outcome::kNotBegun, begin_error_);
  if (write_error_ != 0) return Result(Outcome::kWriteFailed, write_error_);
  if (ErrorCode error = flush_.Finish(temp_); error != 0) return Result(Outcome::kRefused, error);
  if (!original_.Unchanged(path_)) return Result(Outcome::kChangedMeanwhile, kChangedMeanwhile);
  return std::nullopt;
}

}  // namespace platform
