#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/background.h"
#include "platform/file_system.h"
#include "platform/native_handle.h"

namespace platform {

// Files as camfix reads them: each file is opened once, and every decision
// about it is taken from that open file, never from its name again (its
// replacement: file_replacement.h).

// A regular file opened for reading, others may read it too; closed on
// destruction.
class InputFile {
 public:
  // `listed`: the file the folder listing saw under `path`. A name that holds
  // something else now (a link, a device, another file) is not opened, and
  // OpenError gives kChangedMeanwhile.
  InputFile(const std::string& path, const FileStamp& listed);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False when the file cannot be opened (missing, no access, changed).
  bool IsOpen() const { return handle_ != kInvalidHandle; }
  ErrorCode OpenError() const { return error_; }
  NativeHandle Handle() const { return handle_; }
  // The file as it was opened.
  const FileStamp& Stamp() const { return stamp_; }
  // Whether the file still has that stamp and `path` still names it.
  bool Unchanged(const std::string& path) const;
  // The bytes camfix may still write to the file's volume; 0 where unknown.
  std::uint64_t FreeSpace() const { return sys::FreeSpace(handle_); }

  // Up to `capacity` bytes: the count, 0 at the end of the file, -1 when the
  // read failed.
  std::int64_t Read(char* buffer, std::size_t capacity);
  // Moves on past the holes of a sparse file; the new offset.
  std::uint64_t SkipHoles(std::uint64_t offset);
  // Closes the file on `releases`: when a rename replaced it, this is its
  // last reference, and the system frees its blocks there.
  void CloseOn(Background& releases);

 private:
  NativeHandle handle_ = kInvalidHandle;
  ErrorCode error_ = 0;
  FileStamp stamp_;
};

}  // namespace platform
