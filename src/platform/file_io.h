#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/native_handle.h"

namespace platform {

// Files as camfix reads and rewrites them: a stream in, a stream out, and a
// replacement that either takes the file's place whole or leaves it alone.

// The code Commit gives when the file changed after it was read.
inline constexpr ErrorCode kChangedMeanwhile = -2;

// A file opened for reading, others may read it too; closed on destruction.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // False when the file cannot be opened (missing, a folder, no access).
  bool IsOpen() const { return handle_ != kInvalidHandle; }
  ErrorCode OpenError() const { return error_; }
  // The file as it was opened.
  const FileStamp& Stamp() const { return stamp_; }

  // Up to `capacity` bytes: the count, 0 at the end of the file, -1 when the
  // read failed.
  std::int64_t Read(char* buffer, std::size_t capacity);

 private:
  NativeHandle handle_ = kInvalidHandle;
  ErrorCode error_ = 0;
  FileStamp stamp_;
};

// New content for an existing file, written as a stream. The file stays as
// it was until Commit succeeds and then keeps what it is: its owner, group,
// permissions and other links (on Windows its attributes, access rights and
// short name). A replacement that is not committed, or that an interruption
// (Ctrl+C, SIGTERM, SIGHUP, a closed console) ends, leaves no file behind.
class FileReplacement {
 public:
  explicit FileReplacement(const std::string& path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // False when the file cannot take new content (read-only, a folder, no
  // access) or no temporary file can be made; nothing was written then.
  bool IsOpen() const { return temp_ != kInvalidHandle; }
  ErrorCode OpenError() const { return error_; }

  // Appends all `count` bytes; false, with WriteError(), when that failed.
  bool Write(const char* data, std::size_t count);
  ErrorCode WriteError() const { return error_; }

  // Makes the new content durable and puts it in the file's place, provided
  // the file still has `stamp` (else kChangedMeanwhile). 0 on success.
  ErrorCode Commit(const FileStamp& stamp);

  // Where the complete new content was kept when a commit failed part way
  // through overwriting the file in place; empty otherwise.
  const std::string& KeptAt() const { return kept_at_; }

 private:
  void Discard();

  std::string path_;
  std::string temp_name_;  // empty while the temporary file has no name
  NativeHandle temp_ = kInvalidHandle;
  bool in_place_ = false;
  std::uint64_t written_ = 0;
  ErrorCode error_ = 0;
  std::string kept_at_;
};

}  // namespace platform
