#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

std::string FullPathName(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  std::string folder(PATH_MAX, '\0');
  if (getcwd(folder.data(), folder.size()) == nullptr) return path;
  folder.resize(std::strlen(folder.c_str()));
  if (folder.back() != '/') folder += '/';
  return folder + path;
}

std::string SystemErrorText(ErrorCode code) { return std::strerror(code); }

}  // namespace platform

namespace platform::sys {

const ErrorCode kNoRoom = ENOSPC;

namespace {

int Fd(NativeHandle handle) { return static_cast<int>(handle); }

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// One read or write, again while a signal interrupts it: the count, or -1
// with `error`.
template <class Call>
std::int64_t Retrying(Call call, ErrorCode& error) {
  for (;;) {
    const ssize_t moved = call();
    if (moved >= 0) return moved;
    if (errno != EINTR) {
      error = errno;
      return -1;
    }
  }
}

FileStamp ToStamp(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

bool InOurGroups(gid_t group) {
  if (group == getegid()) return true;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
  const int count = getgroups(static_cast<int>(groups.size()), groups.data());
  return std::find(groups.begin(), groups.begin() + std::max(count, 0), group) !=
         groups.begin() + std::max(count, 0);
}

// A file put in place by a rename is a new file: it keeps the old one's owner
// and group only where camfix may give them, and it is not the old file's
// other names.
bool RenameKeepsIdentity(const std::string& path, const struct stat& info) {
  struct stat own {};
  if (lstat(path.c_str(), &own) == 0 && S_ISLNK(own.st_mode)) return true;  // the link is replaced
  if (info.st_nlink > 1 || access(FolderOf(path).c_str(), W_OK) != 0) return false;
  return geteuid() == 0 || (info.st_uid == geteuid() && InOurGroups(info.st_gid));
}

// Interruptions remove the temporary file named here. Fixed storage: the
// handler may only touch what needs no allocation.
char interrupted_temp[PATH_MAX] = {};

extern "C" void RemoveTempAndEnd(int signal) {
  if (interrupted_temp[0] != '\0') unlink(interrupted_temp);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

constexpr int kInterruptions[] = {SIGINT, SIGTERM, SIGHUP};

void CatchInterruptions() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  struct sigaction action {};
  action.sa_handler = RemoveTempAndEnd;
  sigemptyset(&action.sa_mask);
  for (int signal : kInterruptions) sigaction(signal, &action, nullptr);
}

sigset_t InterruptionSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kInterruptions) sigaddset(&set, signal);
  return set;
}

// A name no CAM pattern selects, beside `path`, for a file made by linkat.
std::string FreshTempName(const std::string& path, unsigned attempt) {
  return FolderOf(path) + "/.camfix-" + std::to_string(getpid()) + "-" +
         std::to_string(attempt) + ".tmp";
}

}  // namespace

NativeHandle OpenForReading(const std::string& path, ErrorCode& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return kInvalidHandle;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    error = EISDIR;
    return kInvalidHandle;
  }
  return fd;
}

void CloseFile(NativeHandle handle) { close(Fd(handle)); }

bool StampOf(NativeHandle handle, FileStamp& stamp) {
  struct stat info {};
  if (fstat(Fd(handle), &info) != 0) return false;
  stamp = ToStamp(info);
  return true;
}

bool StampOf(const std::string& path, FileStamp& stamp) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  stamp = ToStamp(info);
  return true;
}

std::int64_t ReadSome(NativeHandle handle, char* buffer, std::size_t capacity, ErrorCode& error) {
  return Retrying([&] { return read(Fd(handle), buffer, capacity); }, error);
}

std::int64_t WriteSome(NativeHandle handle, const char* data, std::size_t count,
                       ErrorCode& error) {
  return Retrying([&] { return write(Fd(handle), data, count); }, error);
}

void StartWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length) {
  sync_file_range(Fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                  SYNC_FILE_RANGE_WRITE);
}

ErrorCode SyncFile(NativeHandle handle) { return fsync(Fd(handle)) == 0 ? 0 : errno; }

// A file without write permission counts as read-only, also for root.
ErrorCode PlanReplacement(const std::string& path, ReplaceBy& how) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return errno;
  if (S_ISDIR(info.st_mode)) return EISDIR;
  if ((info.st_mode & 0222) == 0) return EACCES;
  if (access(path.c_str(), W_OK) != 0) return errno;
  how = RenameKeepsIdentity(path, info) ? ReplaceBy::kRename : ReplaceBy::kOverwrite;
  return 0;
}

NativeHandle CreateTemporary(const std::string& path, ReplaceBy how, std::string& name,
                             ErrorCode& error) {
  CatchInterruptions();
  name.clear();
  if (how == ReplaceBy::kRename) {
    const int fd = open(FolderOf(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
  }
  // The process id tells whose staged file it is.
  std::string temp = how == ReplaceBy::kRename
                         ? FolderOf(path) + "/.camfix-XXXXXX.tmp"
                         : "/tmp/camfix-" + std::to_string(getpid()) + "-XXXXXX.tmp";
  const int fd = mkostemps(temp.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return kInvalidHandle;
  }
  name = temp;
  RemoveOnInterruption(name);
  return fd;
}

ErrorCode CopyOwnership(NativeHandle temp, const std::string& path) {
  struct stat info {};
  struct stat own {};
  if (stat(path.c_str(), &info) != 0 || fstat(Fd(temp), &own) != 0) return errno;
  if ((own.st_uid != info.st_uid || own.st_gid != info.st_gid) &&
      fchown(Fd(temp), info.st_uid, info.st_gid) != 0) {
    return errno;
  }
  return fchmod(Fd(temp), info.st_mode & 07777) == 0 ? 0 : errno;
}

ErrorCode MoveIntoPlace(NativeHandle& temp, std::string& name, const std::string& path) {
  const std::string unnamed = "/proc/self/fd/" + std::to_string(Fd(temp));
  for (unsigned attempt = 0; name.empty(); ++attempt) {
    const auto candidate = FreshTempName(path, attempt);
    if (linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      name = candidate;
      RemoveOnInterruption(name);
    } else if (errno != EEXIST) {
      return errno;
    }
  }
  const int closed = close(Fd(temp));
  temp = kInvalidHandle;
  if (closed != 0) return errno;
  if (rename(name.c_str(), path.c_str()) != 0) return errno;
  RemoveOnInterruption({});
  return 0;
}

ErrorCode SyncFolderOf(const std::string& path) {
  const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;  // the rename stands; only its durability is the system's now
  const int synced = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  close(fd);
  return synced;
}

ErrorCode OverwriteWith(NativeHandle temp, std::uint64_t size, const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  ErrorCode error = posix_fallocate(fd, 0, static_cast<off_t>(size));
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  const std::unique_ptr<char[]> block(new char[kBlock]);
  for (off_t at = 0; error == 0 && static_cast<std::uint64_t>(at) < size;) {
    const ssize_t got = pread(Fd(temp), block.get(), kBlock, at);
    if (got <= 0) {
      error = got < 0 ? errno : EIO;
      break;
    }
    for (ssize_t done = 0; error == 0 && done < got;) {
      const ssize_t put = pwrite(fd, block.get() + done, static_cast<std::size_t>(got - done),
                                 at + done);
      if (put < 0 && errno != EINTR) error = errno;
      if (put > 0) done += put;
    }
    at += got;
  }
  if (error == 0 && ftruncate(fd, static_cast<off_t>(size)) != 0) error = errno;
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

void RemoveFile(const std::string& name) { unlink(name.c_str()); }

void RemoveOnInterruption(const std::string& name) {
  const InterruptionsHeld held;
  const auto length = std::min(name.size(), sizeof interrupted_temp - 1);
  std::memcpy(interrupted_temp, name.data(), length);
  interrupted_temp[length] = '\0';
}

// Nested holds release the interruptions when the outermost one ends.
namespace {
int holds = 0;
}  // namespace

InterruptionsHeld::InterruptionsHeld() {
  const sigset_t set = InterruptionSet();
  if (holds++ == 0) sigprocmask(SIG_BLOCK, &set, nullptr);
}

InterruptionsHeld::~InterruptionsHeld() {
  const sigset_t set = InterruptionSet();
  if (--holds == 0) sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace platform::sys
