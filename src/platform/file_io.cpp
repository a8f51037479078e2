#include "platform/file_io.h"

#include <utility>

#include "platform/file_system.h"

namespace platform {

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

bool InputFile::Unchanged(const std::string& path) const {
  FileStamp now;
  FileStamp named;
  return sys::StampOf(handle_, now) && now == stamp_ && sys::StampOf(path, named) &&
         SameFile(named, now);
}

void InputFile::CloseOn(Background& releases) {
  if (!IsOpen()) return;
  releases.Post([handle = std::exchange(handle_, kInvalidHandle)] { sys::CloseFile(handle); });
}

}  // namespace platform
