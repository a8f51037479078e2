#include "platform/directory_listing.h"

#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "platform/wildcard.h"

namespace platform {

namespace {

struct CloseFolder {
  void operator()(DIR* folder) const { closedir(folder); }
};
using Folder = std::unique_ptr<DIR, CloseFolder>;

std::vector<PlatformEntry> MatchingEntries(DIR* folder, const std::string& pattern) {
  std::vector<PlatformEntry> entries;
  while (const dirent* item = readdir(folder)) {
    const std::string name = item->d_name;
    PlatformEntry entry;
    if (name != "." && name != ".." && MatchesWildcard(name, pattern) && LookUpEntry(name, entry)) {
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

}  // namespace

std::unique_ptr<DirectoryListing> StartListing(const std::string& pattern, PlatformEntry& first,
                                               ErrorCode& error) {
  const Folder folder(opendir("."));
  if (!folder) {
    error = errno;
    return nullptr;
  }
  return StartSnapshot(MatchingEntries(folder.get(), pattern), ENOENT, first, error);
}

bool LookUpEntry(const std::string& path, PlatformEntry& entry) {
  struct stat info {};
  // A dangling link is listed like a file; loading it fails later.
  if (stat(path.c_str(), &info) != 0 && lstat(path.c_str(), &info) != 0) return false;
  entry.name = path.substr(path.rfind('/') + 1);
  entry.size = static_cast<std::uint64_t>(info.st_size);
  entry.attributes = S_ISDIR(info.st_mode) ? kDirectoryAttribute : 0x20;
  if ((info.st_mode & 0222) == 0) entry.attributes |= 0x01;
  entry.write_time = info.st_mtime;
  return true;
}

bool ToLocalDosDateTime(std::int64_t write_time, std::uint32_t& stamp) {
  const auto seconds = static_cast<std::time_t>(write_time);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return false;
  const int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return false;
  const auto date =
      static_cast<std::uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  const auto time =
      static_cast<std::uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  stamp = (date << 16) | time;
  return true;
}

}  // namespace platform
