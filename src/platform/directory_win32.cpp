#include "platform/directory_listing.h"

#include <cstring>
#include <vector>

#include <windows.h>

namespace platform {

namespace {

// An open FindFirstFileA search, closed on destruction.
class FindHandle {
 public:
  FindHandle(const std::string& pattern, WIN32_FIND_DATAA& data)
      : handle_(FindFirstFileA(pattern.c_str(), &data)) {}
  ~FindHandle() {
    if (IsOpen()) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAA& data) { return FindNextFileA(handle_, &data) != 0; }

 private:
  HANDLE handle_;
};

std::uint64_t TicksOf(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// 2108-01-01 00:00 as a FILETIME: the first moment an MS-DOS date cannot hold.
// Wine's FileTimeToDosDateTime wraps such years instead of failing.
constexpr std::uint64_t kEndOfDosDates = 159992928000000000;

PlatformEntry ToEntry(const WIN32_FIND_DATAA& data) {
  PlatformEntry entry;
  entry.name.assign(data.cFileName, strnlen(data.cFileName, MAX_PATH));
  entry.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  entry.attributes = data.dwFileAttributes;
  entry.write_time = static_cast<std::int64_t>(TicksOf(data.ftLastWriteTime));
  return entry;
}

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

}  // namespace

std::unique_ptr<DirectoryListing> StartListing(const std::string& pattern, PlatformEntry& first,
                                               ErrorCode& error) {
  WIN32_FIND_DATAA data{};
  FindHandle search(pattern, data);
  if (!search.IsOpen()) {
    error = static_cast<ErrorCode>(GetLastError());
    return nullptr;
  }
  // The sweep ends at the last entry or at the first failure, whichever comes first.
  std::vector<PlatformEntry> entries;
  do {
    if (!IsDotEntry(data.cFileName)) entries.push_back(ToEntry(data));
  } while (search.Next(data));
  return StartSnapshot(std::move(entries), ERROR_NO_MORE_FILES, first, error);
}

bool LookUpEntry(const std::string& path, PlatformEntry& entry) {
  WIN32_FIND_DATAA data{};
  if (!FindHandle(path, data).IsOpen()) return false;
  entry = ToEntry(data);
  return true;
}

bool ToLocalDosDateTime(std::int64_t write_time, std::uint32_t& stamp) {
  const auto bits = static_cast<std::uint64_t>(write_time);
  const FILETIME utc{static_cast<DWORD>(bits), static_cast<DWORD>(bits >> 32)};
  FILETIME local{};
  FileTimeToLocalFileTime(&utc, &local);
  WORD date = 0;
  WORD time = 0;
  if (TicksOf(local) >= kEndOfDosDates || !FileTimeToDosDateTime(&local, &date, &time)) {
    return false;
  }
  stamp = (std::uint32_t{date} << 16) | time;
  return true;
}

}  // namespace platform
