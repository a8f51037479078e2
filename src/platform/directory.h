#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/native_handle.h"

namespace platform {

// What a folder holds, as the platform reports it.

// kLink: a symbolic link (on Windows also a junction or another name-surrogate
// reparse point), whatever it points to. kOther: FIFO, socket, device.
enum class EntryKind { kFile, kFolder, kLink, kOther };

struct DirectoryEntry {
  std::string name;              // long name, no folder part (UTF-8 on Windows)
  std::uint64_t size = 0;        // bytes
  std::uint32_t attributes = 0;  // 0x01 read-only, 0x02 hidden, 0x04 system,
                                 // 0x10 folder, 0x20 archive
  EntryKind kind = EntryKind::kFile;
  // The local last-write time as an MS-DOS date (high 16 bits) and time (low
  // 16 bits); `dated` is false when it falls outside the years 1980 to 2107.
  std::uint32_t dos_stamp = 0;
  bool dated = false;
  // The file's volume and index where the listing tells them (POSIX), so that
  // a name swapped for another file afterwards is noticed; else 0.
  FileStamp identity;
};

inline constexpr std::uint32_t kHiddenAttribute = 0x02;
inline constexpr std::uint32_t kFolderAttribute = 0x10;

// The entries of the working folder whose names match `pattern` (letter case
// ignored; on Windows the 8.3 short name may match too), without "." and
// "..", in the platform's order. A name that
// begins with a dot is hidden, on Windows as well as an entry with the hidden
// attribute. Gives 0, or the platform's code when the folder cannot be listed;
// no match is 0 with no entries. A link is a link, never what it points to.
ErrorCode ListWorkingFolder(const std::string& pattern, std::vector<DirectoryEntry>& entries);

// The entry `path` names, looked up now; false when there is none.
bool LookUpEntry(const std::string& path, DirectoryEntry& entry);

// A local time as an MS-DOS date (high 16 bits) and time (low 16 bits, in
// two-second steps); false outside the years 1980 to 2107, which the format
// cannot hold. `month` and `day` count from 1.
bool ToDosStamp(int year, int month, int day, int hour, int minute, int second,
                std::uint32_t& stamp);

// The working folder's full path.
std::string WorkingFolder();

}  // namespace platform
