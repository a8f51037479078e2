#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/native_handle.h"

namespace platform {

// A file opened for reading, others may read it too; closed on destruction.
class ReadableFile {
 public:
  explicit ReadableFile(const std::string& path);
  ~ReadableFile();
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  bool IsOpen() const { return handle_ != kInvalidHandle; }
  ErrorCode OpenError() const { return error_; }

  // Bytes from the current position to the end.
  std::int64_t RemainingSize();
  // Reads up to `count` bytes; returns how many arrived before the end of the
  // file or a failure.
  std::int64_t Read(char* data, std::int64_t count);

 private:
  NativeHandle handle_ = kInvalidHandle;
  ErrorCode error_ = 0;
};

// New content for an existing or new file. The bytes go to a temporary file
// beside it, whose name no CAM pattern selects, and take the file's place only
// in Commit(), keeping its permissions; until then the file stays as it was,
// and a replacement that is not committed leaves nothing behind.
class FileReplacement {
 public:
  explicit FileReplacement(const std::string& path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // False when the file cannot be replaced (read-only, a folder, no access).
  bool IsOpen() const { return handle_ != kInvalidHandle; }
  ErrorCode OpenError() const { return error_; }

  // Writes all bytes, or returns false.
  bool Write(const char* data, std::size_t count);
  // Makes the new content durable and puts it in the file's place; 0 on success.
  ErrorCode Commit();

 private:
  void Discard();

  std::string path_;
  std::string temp_path_;
  NativeHandle handle_ = kInvalidHandle;
  ErrorCode error_ = 0;
};

// `path` resolved against the working directory.
std::string FullPathName(const std::string& path);

// The platform's own text for an error code, untrimmed; empty when it has none.
std::string SystemErrorText(ErrorCode code);

// True when `path` exists and is not a regular file: a folder, FIFO, socket or
// device, which camfix never opens.
bool IsSpecialEntry(const std::string& path);

}  // namespace platform
