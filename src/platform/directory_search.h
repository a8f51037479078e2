#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/directory.h"

// The working-folder search: the entries whose names match a wildcard
// pattern, one at a time, every kind of entry included.

// One entry of a search together with the state of the search.
struct TSearchRec {
  std::int32_t WriteStamp = 0;  // local last-write time as MS-DOS date and time
  std::int64_t FileSize = 0;    // size in bytes
  std::uint32_t FileAttributes = 0;
  std::string FileName;  // long name, no folder part
  platform::EntryKind FileKind = platform::EntryKind::kFile;
  platform::FileStamp FileIdentity;               // volume and index, where the listing tells them
  std::vector<platform::DirectoryEntry> Listing;  // the open search; empty when none
  std::size_t NextEntry = 0;
};

// What FindFirstMatch gives when nothing matches.
inline constexpr std::int32_t kNoMatchingEntry = 2;

// Starts a search; 0 when `record` holds the first entry and the search is
// open; kNoMatchingEntry when nothing matches; otherwise the platform's code
// for a folder that cannot be listed.
std::int32_t FindFirstMatch(const std::string& pattern, TSearchRec& record);

// Moves to the next entry; 0 on success, else non-zero.
std::int32_t FindNextMatch(TSearchRec& record);

// Releases the open search, if any.
void EndSearch(TSearchRec& record);

// True when `path` names an existing entry, looked up now, that is not a
// folder and whose local last-write time lies in the years 1980 to 2107.
bool IsExistingFile(const std::string& path);
