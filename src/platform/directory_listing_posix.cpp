#include "platform/directory_listing.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "platform/wildcard.h"

namespace platform {

namespace {

std::string UpperCased(std::string text) {
  for (auto& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The working folder is read once, when the search starts, and its matches
// handed out in name order: repeatable, and a file rewritten under its own
// name while the search is open can never come round again. The entries
// describe the files as they were then.
class SnapshotListing : public DirectoryListing {
 public:
  explicit SnapshotListing(std::vector<PlatformEntry> entries) : entries_(std::move(entries)) {}

  ErrorCode Next(PlatformEntry& entry) override {
    if (next_ == entries_.size()) return ENOENT;
    entry = entries_[next_++];
    return 0;
  }

 private:
  std::vector<PlatformEntry> entries_;
  std::size_t next_ = 0;
};

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
  std::sort(entries.begin(), entries.end(), [](const PlatformEntry& a, const PlatformEntry& b) {
    const auto upper_a = UpperCased(a.name);
    const auto upper_b = UpperCased(b.name);
    return upper_a != upper_b ? upper_a < upper_b : a.name < b.name;
  });
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
  auto listing = std::make_unique<SnapshotListing>(MatchingEntries(folder.get(), pattern));
  error = listing->Next(first);
  if (error != 0) return nullptr;
  return listing;
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
