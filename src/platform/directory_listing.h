#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/native_handle.h"

namespace platform {

// One entry as the platform's directory search reports it.
struct PlatformEntry {
  std::string name;              // long name, no directory part
  std::uint64_t size = 0;        // bytes
  std::uint32_t attributes = 0;  // 0x01 read-only ... 0x10 directory, 0x20 archive
  std::int64_t write_time = 0;   // last write, in the platform's own clock
};

inline constexpr std::uint32_t kDirectoryAttribute = 0x10;

// An open search of the working directory; released on destruction.
class DirectoryListing {
 public:
  virtual ~DirectoryListing() = default;
  // The next matching entry; 0 on success, else the platform's code.
  virtual ErrorCode Next(PlatformEntry& entry) = 0;
};

// Hands `entries` out one by one in name order (letters compared without
// case, then bytes): repeatable, and a file rewritten under its own name while
// the search is open can never come round again. Gives the open listing with
// its first entry in `first`, or null with `end_code` in `error` when empty.
std::unique_ptr<DirectoryListing> StartSnapshot(std::vector<PlatformEntry> entries,
                                                ErrorCode end_code, PlatformEntry& first,
                                                ErrorCode& error);

// Starts a search of the working directory for names matching `pattern`
// (letter case ignored). Gives the open search with its first entry in
// `first`, or null with the platform's code in `error`.
std::unique_ptr<DirectoryListing> StartListing(const std::string& pattern, PlatformEntry& first,
                                               ErrorCode& error);

// The entry `path` names, without opening a search that outlives the call.
bool LookUpEntry(const std::string& path, PlatformEntry& entry);

// `write_time` in local time as an MS-DOS date (high 16 bits) and time (low 16
// bits); false outside the years 1980 to 2107.
bool ToLocalDosDateTime(std::int64_t write_time, std::uint32_t& stamp);

}  // namespace platform
