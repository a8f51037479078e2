#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/background.h"
#include "platform/file_io.h"
#include "platform/native_handle.h"

namespace platform {

// Replacing a file's content, one interface with one implementation per
// platform (file_replacement_posix.cpp: by rename, or rewritten in place where
// a rename would lose what the file is; file_replacement_win32.cpp: by
// ReplaceFileW) and, in the tests, a fake that logs its steps and fails the
// ones a row names.

// What a commit did, or why the file keeps its old content.
struct CommitResult {
  enum class Outcome {
    kRenamed,           // a new file took the old one's place: durable once its folder is flushed
    kRewrittenInPlace,  // the file's own bytes were overwritten, durably
    kNotBegun,          // no new content could be taken (read-only, no access, no temporary file)
    kWriteFailed,       // writing the new content failed
    kRefused,           // the file keeps its old content: `error` says why
    kChangedMeanwhile,  // another program changed the file or its name meanwhile
  };
  Outcome outcome = Outcome::kRefused;
  ErrorCode error = 0;
  // The file that failed when it was not the file itself: a staged copy that
  // could not be made, written or named; the file itself when a write to its
  // staged copy failed beside it; empty otherwise.
  std::string failed_place;
  // Where the complete new content is when the file's old content is gone
  // (an overwrite in place that failed part way, or was written to meanwhile).
  std::string kept_at;
};

// New content for one open file, written as a stream. The file stays as it
// was until Commit succeeds and then keeps what it is: its owner, group,
// permissions, access control lists, extended attributes and other links (on
// Windows its attributes, access rights and short name). Destroyed without a
// commit, or ended by an interruption, it leaves no file behind.
class FileReplacement {
 public:
  virtual ~FileReplacement() = default;

  // Appends all `count` bytes; after a failure, which Commit reports, nothing.
  virtual void Write(const char* data, std::size_t count) = 0;
  // Starts making the written content durable on `flushes`; Commit waits for it.
  virtual void StartFlush(Background& flushes) = 0;
  // Whether the new content goes over the file's own bytes: the file then
  // changes under all its names at once.
  virtual bool InPlace() const = 0;
  // Makes the new content durable and puts it in the file's place, provided
  // the file still has the stamp it was opened with and its name still leads
  // to it.
  virtual CommitResult Commit() = 0;
};

// Begins replacements. Its twin of ninja's DiskInterface: the passes take
// one, the program hands in SystemReplacer(), a test its fake.
class FileReplacer {
 public:
  virtual ~FileReplacer() = default;

  // A replacement for the open file `original` at `path`. `before_naming`
  // runs before a temporary file is made under a name (the one name an
  // interruption removes), not for one that has none.
  virtual std::unique_ptr<FileReplacement> Begin(const std::string& path, const InputFile& original,
                                                 const std::function<void()>& before_naming) = 0;
  // Makes the entries of the folder of `path` durable: the renames done in it.
  virtual ErrorCode FlushFolderOf(const std::string& path) = 0;
};

// The platform's own.
FileReplacer& SystemReplacer();

// For the implementations: the flush of a replacement's content, started on a
// helper or, when it was not, done at the commit.
class PendingFlush {
 public:
  void Start(Background& flushes, NativeHandle file);
  // The flush's result: waited for, or flushed now.
  ErrorCode Finish(NativeHandle file);
  // Waits for a flush in progress, which uses the file.
  void Wait();

 private:
  Background* flushes_ = nullptr;
  ErrorCode error_ = 0;  // by `flushes_`, read once it is done
};

// For the implementations: new content in a file of its own, `temp`, and
// what both keep of it. An implementation waits for the flush before it
// discards the file.
struct NewContent {
  std::string path;
  const InputFile& original;
  NativeHandle temp = kInvalidHandle;
  ErrorCode begin_error = 0;
  ErrorCode write_error = 0;
  std::string failed_place;
  PendingFlush flush;
};

inline bool IsOpen(const NewContent& content) { return content.temp != kInvalidHandle; }
// Starts the flush of what was written, unless a write failed.
void StartFlush(NewContent& content, Background& flushes);
inline CommitResult Result(const NewContent& content, CommitResult::Outcome outcome,
                           ErrorCode error = 0) {
  return {outcome, error, content.failed_place, {}};
}
// Why the commit cannot go on: no file, a failed write or flush, or a file
// that is no longer as it was opened; nothing when it can.
std::optional<CommitResult> Unready(NewContent& content);

}  // namespace platform
