#include "platform/file_io.h"

#include "platform/file_system.h"

namespace platform {

namespace {

// Every this many bytes the written part starts on its way to the disk, so
// that the final flush overlaps the conversion instead of following it.
constexpr std::uint64_t kWritebackStep = std::uint64_t{4} << 20;

}  // namespace

InputFile::InputFile(const std::string& path) {
  handle_ = sys::OpenForReading(path, error_);
  if (IsOpen()) sys::StampOf(handle_, stamp_);
}

InputFile::~InputFile() {
  if (IsOpen()) sys::CloseFile(handle_);
}

std::int64_t InputFile::Read(char* buffer, std::size_t capacity) {
  return sys::ReadSome(handle_, buffer, capacity, error_);
}

FileReplacement::FileReplacement(const std::string& path) : path_(path) {
  sys::ReplaceBy how = sys::ReplaceBy::kRename;
  error_ = sys::PlanReplacement(path, how);
  if (error_ != 0) return;
  in_place_ = how == sys::ReplaceBy::kOverwrite;
  temp_ = sys::CreateTemporary(path, how, temp_name_, error_);
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (IsOpen()) sys::CloseFile(temp_);
  temp_ = kInvalidHandle;
  if (!temp_name_.empty()) sys::RemoveFile(temp_name_);
  temp_name_.clear();
  sys::RemoveOnInterruption({});
}

bool FileReplacement::Write(const char* data, std::size_t count) {
  while (count > 0) {
    const auto put = sys::WriteSome(temp_, data, count, error_);
    if (put <= 0) {
      if (put == 0) error_ = sys::kNoRoom;
      return false;
    }
    const auto before = written_;
    written_ += static_cast<std::uint64_t>(put);
    if (written_ / kWritebackStep != before / kWritebackStep) {
      const auto end = written_ / kWritebackStep * kWritebackStep;
      sys::StartWriteback(temp_, end - kWritebackStep, kWritebackStep);
    }
    data += put;
    count -= static_cast<std::size_t>(put);
  }
  return true;
}

ErrorCode FileReplacement::Commit(const FileStamp& stamp) {
  if (ErrorCode error = sys::SyncFile(temp_); error != 0) return error;
  FileStamp now;
  if (!sys::StampOf(path_, now) || now != stamp) return kChangedMeanwhile;
  if (in_place_) {
    const sys::InterruptionsHeld held;
    const ErrorCode error = sys::OverwriteWith(temp_, written_, path_);
    if (error != 0) {
      // The file may be part written now: the complete content stays.
      kept_at_ = temp_name_;
      sys::RemoveOnInterruption({});
      temp_name_.clear();
    }
    return error;
  }
  if (ErrorCode error = sys::CopyOwnership(temp_, path_); error != 0) return error;
  const sys::InterruptionsHeld held;
  if (ErrorCode error = sys::MoveIntoPlace(temp_, temp_name_, path_); error != 0) return error;
  temp_name_.clear();
  return sys::SyncFolderOf(path_);
}

}  // namespace platform
