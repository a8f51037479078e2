#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/native_handle.h"

// The system's file calls, one thin wrapper each: what a file is and how its
// path and errors read, and (in platform::sys) the calls that file_io.cpp
// builds its input file and replacement on, which nothing else uses.
namespace platform {

// What tells one state of a file from another: when any field differs, the
// file was replaced or written meanwhile.
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  std::int64_t write_time = 0;
};

inline bool operator==(const FileStamp& a, const FileStamp& b) {
  return a.volume == b.volume && a.index == b.index && a.size == b.size &&
         a.write_time == b.write_time;
}

// `path` resolved against the working folder, in the platform's spelling.
std::string FullPathName(const std::string& path);

// The platform's own text for an error code, untrimmed; empty when it has none.
std::string SystemErrorText(ErrorCode code);

}  // namespace platform

namespace platform::sys {

// Opens an existing file for reading, sharing it for reading; refuses a folder.
NativeHandle OpenForReading(const std::string& path, ErrorCode& error);
void CloseFile(NativeHandle handle);

bool StampOf(NativeHandle handle, FileStamp& stamp);
bool StampOf(const std::string& path, FileStamp& stamp);

// One read or write request: the count moved, or -1 with `error`.
std::int64_t ReadSome(NativeHandle handle, char* buffer, std::size_t capacity, ErrorCode& error);
std::int64_t WriteSome(NativeHandle handle, const char* data, std::size_t count, ErrorCode& error);
// Starts writing [offset, offset + length) to disk without waiting; a hint.
void StartWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length);
ErrorCode SyncFile(NativeHandle handle);

// How a file can take new content and stay what it is: a temporary file
// beside it put in its place by a rename, or (POSIX, where a rename would lose
// the owner, the group or other links, or the folder takes no new file) a
// temporary file in the system's temp folder copied over it.
enum class ReplaceBy { kRename, kOverwrite };

// 0 with the way, or the code that refuses any new content for `path`.
ErrorCode PlanReplacement(const std::string& path, ReplaceBy& how);

// An empty temporary file for new content of `path`, opened for writing; its
// name in `name`, or empty while it has none. The name is one that no CAM
// pattern selects, and an interruption removes the file.
NativeHandle CreateTemporary(const std::string& path, ReplaceBy how, std::string& name,
                             ErrorCode& error);

// kRename: gives the temporary file the owner, group and permissions of
// `path` (owner first, so that set-id bits survive); then puts it in
// `path`'s place, closing `temp` and naming it first if need be; then makes
// the folder's new entry durable.
ErrorCode CopyOwnership(NativeHandle temp, const std::string& path);
ErrorCode MoveIntoPlace(NativeHandle& temp, std::string& name, const std::string& path);
ErrorCode SyncFolderOf(const std::string& path);

// kOverwrite: reserves `size` bytes for `path`, then copies the temporary
// file over it from offset 0 and makes it durable.
ErrorCode OverwriteWith(NativeHandle temp, std::uint64_t size, const std::string& path);

// The code for a write that stored nothing: the disk is full.
extern const ErrorCode kNoRoom;

// Removes a file by name; failures are ignored.
void RemoveFile(const std::string& name);

// The temporary file an interruption removes; empty for none.
void RemoveOnInterruption(const std::string& name);

// Holds interruptions back while it lives; one that came meanwhile ends the
// process when it goes.
class InterruptionsHeld {
 public:
  InterruptionsHeld();
  ~InterruptionsHeld();
  InterruptionsHeld(const InterruptionsHeld&) = delete;
  InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;
};

}  // namespace platform::sys
