#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/directory_listing.h"

// The working-directory search: the entries whose names match a wildcard
// pattern, one at a time, with an attribute filter.

// One entry of a search together with the state of the search.
struct TSearchRec {
  std::int32_t WriteStamp = 0;  // local last-write time as MS-DOS date and time
  std::int64_t FileSize = 0;    // size in bytes
  std::uint32_t FileAttributes = 0;
  std::string FileName;              // long name, no directory part
  std::uint32_t SkipAttributes = 0;  // hidden, system, volume or folder bits passed over
  std::unique_ptr<platform::DirectoryListing> SearchHandle;  // null when no search is open
  platform::PlatformEntry PlatformEntry;
};

// Starts a search; 0 when `record` holds the first admitted entry and the
// search is open, otherwise the platform's code and no open search. An entry
// is passed over when it carries a hidden (0x02), system (0x04), volume (0x08)
// or folder (0x10) bit that `attribute_mask` does not name; 63 admits all.
std::int32_t FindFirstMatch(const std::string& pattern, std::uint32_t attribute_mask,
                            TSearchRec& record);

// Moves to the next admitted entry; 0 on success, else the platform's code
// with the search still open.
std::int32_t FindNextMatch(TSearchRec& record);

// Releases the open search, if any.
void EndSearch(TSearchRec& record);

// True when `path` names an existing entry that is not a folder and whose
// local last-write time lies in the MS-DOS range (1980 to 2107). Never fails.
bool IsExistingFile(const std::string& path);
