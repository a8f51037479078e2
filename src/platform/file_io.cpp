#include "platform/file_io.h"

#include <utility>

#include "platform/file_system.h"
#include "platform/interruptions.h"

namespace platform {

namespace {

// Every this many bytes the written part starts on its way to the disk, so
// that the final flush overlaps the conversion instead of following it.
constexpr std::uint64_t kWritebackStep = std::uint64_t{4} << 20;
// The step this many steps back is waited for: what is not yet on its way to
// the disk stays small, and so does the final flush.
constexpr std::uint64_t kWritebackLag = 8;

}  // namespace

InputFile::InputFile(const std::string& path, const FileStamp& listed) {
  handle_ = sys::OpenForReading(path, error_);
  if (!IsOpen()) return;
  if (!sys::StampOf(handle_, stamp_) || !SameFile(stamp_, listed)) {
    sys::CloseFile(handle_);
    handle_ = kInvalidHandle;
    error_ = kChangedMeanwhile;
  }
}

InputFile::~InputFile() {
  if (IsOpen()) sys::CloseFile(handle_);
}

std::int64_t InputFile::Read(char* buffer, std::size_t capacity) {
  return sys::ReadSome(handle_, buffer, capacity, error_);
}

std::uint64_t InputFile::SkipHoles(std::uint64_t offset) {
  return sys::NextData(handle_, offset, stamp_.size);
}

void InputFile::CloseOn(Background& releases) {
  if (!IsOpen()) return;
  releases.Post([handle = std::exchange(handle_, kInvalidHandle)] { sys::CloseFile(handle); });
}

FileReplacement::FileReplacement(const std::string& path, const InputFile& original,
                                 const std::function<void()>& before_naming)
    : path_(path), original_(original) {
  sys::ReplaceBy how = sys::ReplaceBy::kRename;
  error_ = sys::PlanReplacement(original.Handle(), path, how);
  if (error_ != 0) return;
  in_place_ = how == sys::ReplaceBy::kOverwrite;
  temp_ = sys::CreateUnnamed(path);
  if (IsOpen()) return;
  before_naming();
  temp_ = sys::CreateTemporary(path, how, temp_name_, error_);
  if (IsOpen()) return;
  failed_place_ = std::exchange(temp_name_, {});
  RemoveOnInterruption({});
}

FileReplacement::~FileReplacement() {
  if (syncs_ != nullptr) syncs_->WaitUntilPending(0);  // the file is in use there
  Discard();
}

// The name an interruption removes is this file's while it has one; else it
// may be that of the file before, still being committed.
void FileReplacement::Discard() {
  if (IsOpen()) sys::CloseFile(temp_);
  temp_ = kInvalidHandle;
  if (temp_name_.empty()) return;
  sys::RemoveFile(temp_name_);
  temp_name_.clear();
  RemoveOnInterruption({});
}

bool FileReplacement::Write(const char* data, std::size_t count) {
  while (count > 0) {
    const auto put = sys::WriteSome(temp_, data, count, error_);
    if (put == 0) error_ = sys::kNoRoom;
    if (put <= 0) return WriteFailed();
    const auto before = written_;
    written_ += static_cast<std::uint64_t>(put);
    if (written_ / kWritebackStep != before / kWritebackStep) {
      const auto steps = written_ / kWritebackStep;
      sys::StartWriteback(temp_, (steps - 1) * kWritebackStep, kWritebackStep);
      if (steps > kWritebackLag) {
        error_ = sys::FinishWriteback(temp_, (steps - 1 - kWritebackLag) * kWritebackStep,
                                      kWritebackStep);
        if (error_ != 0) return WriteFailed();
      }
    }
    data += put;
    count -= static_cast<std::size_t>(put);
  }
  return true;
}

// A staged copy still without a name is beside the file, on its volume.
bool FileReplacement::WriteFailed() {
  if (in_place_) failed_place_ = temp_name_.empty() ? path_ : temp_name_;
  return false;
}

// The file as it was opened, still under its name.
bool FileReplacement::Unchanged() const {
  FileStamp now;
  FileStamp named;
  return sys::StampOf(original_.Handle(), now) && now == original_.Stamp() &&
         sys::StampOf(path_, named) && SameFile(named, now);
}

void FileReplacement::StartSync(Background& syncs) {
  syncs_ = &syncs;
  syncs.Post([this] { sync_error_ = sys::SyncFile(temp_); });
}

ErrorCode FileReplacement::Sync() {
  if (syncs_ == nullptr) return sys::SyncFile(temp_);
  syncs_->WaitUntilPending(0);
  return sync_error_;
}

ErrorCode FileReplacement::Commit() {
  if (ErrorCode error = Sync(); error != 0) return error;
  if (!Unchanged()) return kChangedMeanwhile;
  if (!in_place_) {
    const ErrorCode error = sys::CopyIdentity(original_.Handle(), temp_);
    if (error == 0) {
      const ErrorCode moved = sys::MoveIntoPlace(temp_, temp_name_, path_, original_.Stamp());
      renamed_ = moved == 0;
      return moved;
    }
    if (!sys::IdentityCannotTravel(error)) return error;
    in_place_ = true;  // what the file is stays only with the file itself
  }
  std::string staged;
  if (ErrorCode named = sys::NameStagedCopy(temp_, temp_name_, path_, staged); named != 0) {
    failed_place_ = staged;
    return named;
  }
  return CommitInPlace();
}

// The staged copy is complete and durable under its name before the first
// byte of the file changes; it goes once the file is, before a held
// interruption is acted on.
ErrorCode FileReplacement::CommitInPlace() {
  if (ErrorCode error = sys::SyncFolderOf(temp_name_); error != 0) return error;
  const InterruptionsHeld held;
  if (!Unchanged()) return kChangedMeanwhile;
  bool touched = false;
  const ErrorCode error = sys::OverwriteWith(temp_, written_, original_.Handle(), path_, touched);
  if (error == 0) {
    Discard();
  } else if (touched) {
    kept_at_ = temp_name_;
    RemoveOnInterruption({});
    temp_name_.clear();
  }
  return error;
}

ErrorCode FlushFolderOf(const std::string& path) { return sys::SyncFolderOf(path); }

}  // namespace platform
