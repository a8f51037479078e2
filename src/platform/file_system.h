#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/native_handle.h"

// The system's file calls, one thin wrapper each: what a file is and how its
// path and errors read, and (in platform::sys) the calls that file_io.cpp
// builds its input file on and both file replacements write with. How a file
// is replaced is each platform's own: file_replacement_*.cpp.
namespace platform {

// What tells one state of a file from another: when any field differs, the
// file was replaced or written meanwhile. The change time is the system's
// own (POSIX ctime), which no program can set back; 0 where unknown.
struct FileStamp {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t size = 0;
  std::int64_t write_time = 0;
  std::int64_t change_time = 0;
};

// Whether both name the same file, whatever its content; true where the
// volume and index are unknown (0).
inline bool SameFile(const FileStamp& a, const FileStamp& b) {
  return a.index == 0 || b.index == 0 || (a.volume == b.volume && a.index == b.index);
}

inline bool operator==(const FileStamp& a, const FileStamp& b) {
  return a.volume == b.volume && a.index == b.index && a.size == b.size &&
         a.write_time == b.write_time && a.change_time == b.change_time;
}

// The code for a name that no longer holds the file that was listed or
// read: a link, a device or another file stands there now.
inline constexpr ErrorCode kChangedMeanwhile = -2;

// `path` resolved against the working folder, in the platform's spelling.
std::string FullPathName(const std::string& path);

// The platform's own text for an error code, untrimmed; empty when it has none.
std::string SystemErrorText(ErrorCode code);

}  // namespace platform

namespace platform::sys {

// Opens the regular file `path` for reading, sharing it for reading, without
// following a link (POSIX) or a name-surrogate reparse point (Windows);
// kChangedMeanwhile for a link, a folder or anything else that is no regular
// file. A folder that was listed as such never gets here.
NativeHandle OpenForReading(const std::string& path, ErrorCode& error);
void CloseFile(NativeHandle handle);

bool StampOf(NativeHandle handle, FileStamp& stamp);
// The stamp of the entry `path` names, a link not followed.
bool StampOf(const std::string& path, FileStamp& stamp);

// One read or write request: the count moved, or -1 with `error`.
std::int64_t ReadSome(NativeHandle handle, char* buffer, std::size_t capacity, ErrorCode& error);
std::int64_t WriteSome(NativeHandle handle, const char* data, std::size_t count, ErrorCode& error);
// The offset of the first data at or after `offset`, holes skipped; `end`
// when only holes follow. Where holes cannot be told, `offset`.
std::uint64_t NextData(NativeHandle handle, std::uint64_t offset, std::uint64_t end);
ErrorCode SyncFile(NativeHandle handle);
// The bytes that camfix may still write to the volume of `handle`; 0 where
// that is not known.
std::uint64_t FreeSpace(NativeHandle handle);

}  // namespace platform::sys
