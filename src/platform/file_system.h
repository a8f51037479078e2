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
// Starts writing [offset, offset + length) to disk without waiting; a hint.
void StartWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length);
// Waits until the writeback of [offset, offset + length) has ended: 0, or the
// code of a write that failed there, which SyncFile may no longer report.
ErrorCode FinishWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length);
ErrorCode SyncFile(NativeHandle handle);
// The bytes that camfix may still write to the volume of `handle`; 0 where
// that is not known.
std::uint64_t FreeSpace(NativeHandle handle);

// How a file can take new content and stay what it is: a temporary file
// beside it put in its place by a rename, or (POSIX, where a rename would lose
// the owner, the group or other links, or the folder takes no new file) the
// new content staged in full under a name of its own and then copied over
// the file.
enum class ReplaceBy { kRename, kOverwrite };

// 0 with the way, or the code that refuses any new content for the open
// file `original` at `path` (POSIX: EPERM for an overwrite in place that
// would clear set-id bits or a file capability camfix cannot set again).
ErrorCode PlanReplacement(NativeHandle original, const std::string& path, ReplaceBy& how);

// An empty file without a name in the folder of `path`, open for reading and
// writing, where the file system allows and it can be named later;
// else kInvalidHandle.
NativeHandle CreateUnnamed(const std::string& path);

// An empty file for new content of `path`, open for reading and writing,
// named in `name`. kRename: beside `path`, under a fresh name. kOverwrite:
// the staged copy under a working name (POSIX: `.camfix-PID-NAME.partial`)
// beside it where the folder takes new files, else in a fresh folder of the
// user's own that no one else can write, in the system's folder for files
// that outlive a restart. No CAM pattern selects the name, and an
// interruption removes the file. On failure `name` tells which file could not
// be made, when it is not `path`'s own.
NativeHandle CreateTemporary(const std::string& path, ReplaceBy how, std::string& name,
                             ErrorCode& error);

// kRename: gives `temp` the owner, group, permissions, access control lists
// and extended attributes of `original` (the owner first, the permissions
// last, so that set-id bits survive). A code for which IdentityCannotTravel
// is true means that a rename would lose some of it.
ErrorCode CopyIdentity(NativeHandle original, NativeHandle temp);
bool IdentityCannotTravel(ErrorCode error);

// kRename: puts `temp` in the place of `path`, which must still be the file
// `original` (else kChangedMeanwhile, and `path` keeps it); names and closes
// `temp` first where need be.
ErrorCode MoveIntoPlace(NativeHandle& temp, std::string& name, const std::string& path,
                        const FileStamp& original);

// Gives the complete staged copy `temp` of `path` (unnamed, or named in
// `name`) the name a staged copy has, which `name` then holds: POSIX
// `.camfix-PID-NAME` beside `path`, or `camfix-PID-NAME` in its private
// folder. A file already there is never replaced.
// On failure `staged` is the name that could not be made.
ErrorCode NameStagedCopy(NativeHandle temp, std::string& name, const std::string& path,
                         std::string& staged);

// Makes the entry `name` durable in its folder.
ErrorCode SyncFolderOf(const std::string& name);

// kOverwrite: writes the first `size` bytes of `staged` over the open file
// `original` at `path` from offset 0 and makes them durable. The file is
// opened again for writing (POSIX: through /proc, else through `path`),
// checked to be the same file, and that description takes `original`'s
// place. Before the first byte changes: what a write clears (set-id bits, a
// file capability) must be what camfix can put back (else EPERM), a write
// lease is taken where the system grants one, and the room needed is
// reserved; a failure there leaves the file as it was. Sets `touched` once
// the file's bytes have begun to change. kChangedMeanwhile, with `touched`,
// when another program may have written to the file meanwhile.
ErrorCode OverwriteWith(NativeHandle staged, std::uint64_t size, NativeHandle original,
                        const std::string& path, bool& touched);

// The code for a write that stored nothing: the disk is full.
extern const ErrorCode kNoRoom;

// Removes a file by name (POSIX: and the private folder of a staged copy);
// failures are ignored.
void RemoveFile(const std::string& name);

}  // namespace platform::sys
