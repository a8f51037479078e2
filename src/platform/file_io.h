#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/background.h"
#include "platform/file_system.h"
#include "platform/native_handle.h"

namespace platform {

// Files as camfix reads and rewrites them: each file is opened once, and
// every decision about it is taken from that open file, never from its name
// again; a replacement either takes the file's place whole or leaves it alone.

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

// New content for an open file, written as a stream. The file stays as it
// was until Commit succeeds and then keeps what it is: its owner, group,
// permissions, access control lists, extended attributes and other links (on
// Windows its attributes, access rights and short name). A replacement that
// is not committed, or that a signal ends, leaves no file behind; a signal
// sent during the overwrite in place waits for its end, and another program's
// write to the file meanwhile either waits too or fails the commit.
class FileReplacement {
 public:
  // `before_naming` runs before a temporary file is made under a name (the
  // name an interruption removes), not for one that has none.
  FileReplacement(const std::string& path, const InputFile& original,
                  const std::function<void()>& before_naming);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // False when the file cannot take new content (read-only, no access) or no
  // temporary file can be made; nothing was written then.
  bool IsOpen() const { return temp_ != kInvalidHandle; }
  ErrorCode OpenError() const { return error_; }

  // Appends all `count` bytes; false, with WriteError(), when that failed.
  bool Write(const char* data, std::size_t count);
  ErrorCode WriteError() const { return error_; }

  // Makes the written content durable on `syncs`; Commit waits for it there.
  void StartSync(Background& syncs);

  // Makes the new content durable and puts it in the file's place, provided
  // the file still has the stamp it was opened with and `path` still names
  // it (else kChangedMeanwhile). 0 on success. A rename is durable once
  // FlushFolderOf(path) has run.
  ErrorCode Commit();
  // Whether the new content goes over the file's own bytes (so far).
  bool InPlace() const { return in_place_; }
  // Whether the commit put a new file in the place of the old one.
  bool Renamed() const { return renamed_; }

  // The file that failed when it was not the file itself: the staged copy
  // that could not be made, written or named; empty otherwise.
  const std::string& FailedPlace() const { return failed_place_; }
  // Where the complete new content is when a commit failed after the file's
  // old content was gone: the staged copy, when the overwrite in place failed
  // part way or another program may have written to the file meanwhile.
  // Empty otherwise.
  const std::string& KeptAt() const { return kept_at_; }

 private:
  void Discard();
  bool WriteFailed();
  ErrorCode Sync();
  ErrorCode CommitInPlace();
  bool Unchanged() const;

  std::string path_;
  const InputFile& original_;
  std::string temp_name_;  // empty while the temporary file has no name
  NativeHandle temp_ = kInvalidHandle;
  bool in_place_ = false;
  bool renamed_ = false;
  std::uint64_t written_ = 0;
  ErrorCode error_ = 0;
  Background* syncs_ = nullptr;  // where the content is being made durable
  ErrorCode sync_error_ = 0;     // by `syncs_`, read once it is done
  std::string failed_place_;
  std::string kept_at_;
};

// Makes the entries of the folder of `path` durable: the renames done in it.
ErrorCode FlushFolderOf(const std::string& path);

}  // namespace platform
