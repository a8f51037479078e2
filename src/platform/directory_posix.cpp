#include "platform/directory.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/wildcard.h"

namespace platform {

namespace {

struct CloseFolder {
  void operator()(DIR* folder) const { closedir(folder); }
};
using Folder = std::unique_ptr<DIR, CloseFolder>;

bool ToLocalDosStamp(std::time_t seconds, std::uint32_t& stamp) {
  std::tm local{};
  return localtime_r(&seconds, &local) != nullptr &&
         ToDosStamp(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec, stamp);
}

EntryKind KindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::kFile;
  if (S_ISLNK(mode)) return EntryKind::kLink;
  return S_ISDIR(mode) ? EntryKind::kFolder : EntryKind::kOther;
}

}  // namespace

ErrorCode ListWorkingFolder(const std::string& pattern, std::vector<DirectoryEntry>& entries) {
  const Folder folder(opendir("."));
  if (!folder) return errno;
  errno = 0;
  while (const dirent* item = readdir(folder.get())) {
    const std::string name = item->d_name;
    DirectoryEntry entry;
    if (name != "." && name != ".." && MatchesWildcard(name, pattern) && LookUpEntry(name, entry)) {
      entries.push_back(std::move(entry));
    }
    errno = 0;
  }
  return errno;
}

bool LookUpEntry(const std::string& path, DirectoryEntry& entry) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return false;
  entry.name = path.substr(path.rfind('/') + 1);
  entry.size = static_cast<std::uint64_t>(info.st_size);
  entry.kind = KindOf(info.st_mode);
  entry.identity.volume = static_cast<std::uint64_t>(info.st_dev);
  entry.identity.index = static_cast<std::uint64_t>(info.st_ino);
  entry.attributes = entry.kind == EntryKind::kFolder ? kFolderAttribute : 0x20;
  if ((info.st_mode & 0222) == 0) entry.attributes |= 0x01;
  if (entry.name.starts_with('.')) entry.attributes |= kHiddenAttribute;
  entry.dated = ToLocalDosStamp(info.st_mtime, entry.dos_stamp);
  return true;
}

std::string WorkingFolder() {
  std::string folder(PATH_MAX, '\0');
  if (getcwd(folder.data(), folder.size()) == nullptr) return ".";
  folder.resize(std::strlen(folder.c_str()));
  return folder;
}

}  // namespace platform
