#include "platform/file_system.h"

#include <algorithm>
#include <atomic>
#include <attr/libattr.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

#include "platform/interruptions.h"

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

std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// `name` in the folder of `path`.
std::string Beside(const std::string& path, const std::string& name) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

// The open file itself, whatever name it has now: opening this path opens
// the same file again, and access() asks about that file.
std::string OpenFilePath(NativeHandle handle) {
  return "/proc/self/fd/" + std::to_string(Fd(handle));
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

std::int64_t Nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileStamp ToStamp(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::uint64_t>(info.st_size), Nanoseconds(info.st_mtim),
          Nanoseconds(info.st_ctim)};
}

bool InOurGroups(gid_t group) {
  if (group == getegid()) return true;
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
  const int count = getgroups(static_cast<int>(groups.size()), groups.data());
  return std::find(groups.begin(), groups.begin() + std::max(count, 0), group) !=
         groups.begin() + std::max(count, 0);
}

bool FolderTakesNewFiles(const std::string& path) {
  return access(FolderOf(path).c_str(), W_OK | X_OK) == 0;
}

// A file put in place by a rename is a new file: it keeps the old one's owner
// and group only where camfix may give them, and it is not the old file's
// other names.
bool RenameKeepsIdentity(const std::string& path, const struct stat& info) {
  if (info.st_nlink > 1 || !FolderTakesNewFiles(path)) return false;
  return geteuid() == 0 || (info.st_uid == geteuid() && InOurGroups(info.st_gid));
}

// The process id tells whose file it is; the rest, which file it belongs to.
std::string StagedName(const std::string& path) {
  const auto name = "camfix-" + std::to_string(getpid()) + "-" + NameOf(path).substr(0, 200);
  return FolderTakesNewFiles(path) ? Beside(path, "." + name) : "/var/tmp/" + name;
}

// The name of a temporary file beside `path` that a rename puts in its place.
std::string TempName(const std::string& path) {
  return Beside(path, ".camfix-" + std::to_string(getpid()) + ".tmp");
}

// An unused name for a file made by linkat or open, from `base`.
template <class Make>
ErrorCode MakeUnderFreshName(const std::string& base, std::string& name, Make make) {
  for (unsigned attempt = 0;; ++attempt) {
    name = attempt == 0 ? base : base + "." + std::to_string(attempt);
    if (make(name.c_str())) return 0;
    if (errno != EEXIST) return errno;
  }
}

ErrorCode LinkUnnamed(NativeHandle temp, const std::string& base, std::string& name) {
  const auto unnamed = OpenFilePath(temp);
  const ErrorCode error = MakeUnderFreshName(base, name, [&](const char* candidate) {
    return linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, candidate, AT_SYMLINK_FOLLOW) == 0;
  });
  if (error != 0) return error;
  RemoveOnInterruption(name);
  return 0;
}

// Whether `path` names `file` with its size and write time (a rename sets
// its change time).
bool IsFile(const std::string& path, const FileStamp& file) {
  FileStamp named;
  return StampOf(path, named) && SameFile(named, file) && named.size == file.size &&
         named.write_time == file.write_time;
}

// Exchanges the two names, so that `path` holds the new file `fresh` and
// `name` the old one, which is checked to be `original` before it goes; else
// they are exchanged back, and `name` is forgotten when it no longer holds
// `fresh`, so that nothing else is ever removed under it. A file system
// without exchange gets a check and a rename.
ErrorCode ExchangeInto(std::string& name, const std::string& path, const FileStamp& original,
                       const FileStamp& fresh) {
  if (renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (!IsFile(path, original)) return kChangedMeanwhile;
    return rename(name.c_str(), path.c_str()) == 0 ? 0 : errno;
  }
  if (!IsFile(name, original)) {
    renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
    FileStamp named;
    if (!StampOf(name, named) || !SameFile(named, fresh)) {
      name.clear();
      RemoveOnInterruption({});
    }
    return kChangedMeanwhile;
  }
  unlink(name.c_str());
  return 0;
}

// The reservation keeps the file's size, and a failed one gives back what it
// got beyond the end and puts the write time back, so that the file is as it
// was for every program that compares times; a file system that cannot
// reserve so is written without one, and an empty file needs none.
ErrorCode Reserve(int fd, std::uint64_t size, const struct stat& old) {
  if (size == 0) return 0;
  if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return 0;
  const ErrorCode error = errno;
  if (error == EOPNOTSUPP || error == ENOSYS) return 0;
  ftruncate(fd, old.st_size);
  const timespec times[2] = {{0, UTIME_OMIT}, old.st_mtim};
  futimens(fd, times);
  return error;
}

ErrorCode CopyRange(int from, int to, std::uint64_t size, bool& touched) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  const std::unique_ptr<char[]> block(new char[kBlock]);
  for (off_t at = 0; static_cast<std::uint64_t>(at) < size;) {
    const ssize_t got = pread(from, block.get(), kBlock, at);
    if (got <= 0) return got < 0 ? errno : EIO;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put =
          pwrite(to, block.get() + done, static_cast<std::size_t>(got - done), at + done);
      if (put < 0 && errno != EINTR) return errno;
      touched = touched || put > 0;
      if (put > 0) done += put;
    }
    at += got;
  }
  touched = true;
  return ftruncate(to, static_cast<off_t>(size)) == 0 ? 0 : errno;
}

// Copies every attribute but those the system marks to be skipped; the access
// control lists come with them.
extern "C" int CopiedAttribute(const char* name, struct error_context* context) {
  return attr_copy_action(name, context) != ATTR_ACTION_SKIP ? 1 : 0;
}

}  // namespace

NativeHandle OpenForReading(const std::string& path, ErrorCode& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ELOOP ? kChangedMeanwhile : errno;
    return kInvalidHandle;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    error = kChangedMeanwhile;
    return kInvalidHandle;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);  // a larger read-ahead
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
  if (lstat(path.c_str(), &info) != 0) return false;
  stamp = ToStamp(info);
  return true;
}

std::int64_t ReadSome(NativeHandle handle, char* buffer, std::size_t capacity, ErrorCode& error) {
  return Retrying([&] { return read(Fd(handle), buffer, capacity); }, error);
}

std::int64_t WriteSome(NativeHandle handle, const char* data, std::size_t count, ErrorCode& error) {
  return Retrying([&] { return write(Fd(handle), data, count); }, error);
}

std::uint64_t NextData(NativeHandle handle, std::uint64_t offset, std::uint64_t end) {
  const off_t data = lseek(Fd(handle), static_cast<off_t>(offset), SEEK_DATA);
  if (data >= 0) return static_cast<std::uint64_t>(data);
  if (errno != ENXIO) return offset;
  lseek(Fd(handle), static_cast<off_t>(end), SEEK_SET);
  return end;
}

void StartWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length) {
  sync_file_range(Fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                  SYNC_FILE_RANGE_WRITE);
}

ErrorCode FinishWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length) {
  constexpr unsigned kWait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                             SYNC_FILE_RANGE_WAIT_AFTER;
  return sync_file_range(Fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                         kWait) == 0
             ? 0
             : errno;
}

ErrorCode SyncFile(NativeHandle handle) { return fsync(Fd(handle)) == 0 ? 0 : errno; }

std::uint64_t FreeSpace(NativeHandle handle) {
  struct statvfs volume {};
  if (fstatvfs(Fd(handle), &volume) != 0) return 0;
  return std::uint64_t{volume.f_bavail} * volume.f_frsize;
}

// A file without write permission counts as read-only, also for root.
ErrorCode PlanReplacement(NativeHandle original, const std::string& path, ReplaceBy& how) {
  struct stat info {};
  if (fstat(Fd(original), &info) != 0) return errno;
  if ((info.st_mode & 0222) == 0) return EACCES;
  if (access(OpenFilePath(original).c_str(), W_OK) != 0) return errno;
  how = RenameKeepsIdentity(path, info) ? ReplaceBy::kRename : ReplaceBy::kOverwrite;
  return 0;
}

// open's -1 is kInvalidHandle.
NativeHandle CreateUnnamed(const std::string& path) {
  return open(FolderOf(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

NativeHandle CreateTemporary(const std::string& path, ReplaceBy how, std::string& name,
                             ErrorCode& error) {
  name.clear();
  const auto base = how == ReplaceBy::kRename ? TempName(path) : StagedName(path);
  int fd = -1;
  const InterruptionsHeld held;  // no interruption between making and registering
  error = MakeUnderFreshName(base, name, [&fd](const char* candidate) {
    fd = open(candidate, O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0;
  });
  if (error != 0) {
    if (how == ReplaceBy::kRename) name.clear();
    return kInvalidHandle;
  }
  RemoveOnInterruption(name);
  return fd;
}

namespace {

// The inode flags a rename would lose that the owner may set: no dump, no
// access time, synchronous writes.
ErrorCode CopyInodeFlags(int original, int temp) {
  constexpr int kCopied = FS_NODUMP_FL | FS_NOATIME_FL | FS_SYNC_FL;
  int flags = 0;
  int own = 0;
  if (ioctl(original, FS_IOC_GETFLAGS, &flags) != 0 || (flags & kCopied) == 0) return 0;
  if (ioctl(temp, FS_IOC_GETFLAGS, &own) != 0) return errno;
  own |= flags & kCopied;
  return ioctl(temp, FS_IOC_SETFLAGS, &own) == 0 ? 0 : errno;
}

}  // namespace

ErrorCode CopyIdentity(NativeHandle original, NativeHandle temp) {
  struct stat info {};
  struct stat own {};
  if (fstat(Fd(original), &info) != 0 || fstat(Fd(temp), &own) != 0) return errno;
  if ((own.st_uid != info.st_uid || own.st_gid != info.st_gid) &&
      fchown(Fd(temp), info.st_uid, info.st_gid) != 0) {
    return errno;
  }
  // A default access control list of the folder gave the new file one of
  // its own; only the original's may stay.
  fremovexattr(Fd(temp), "system.posix_acl_access");
  if (attr_copy_fd("", Fd(original), "", Fd(temp), CopiedAttribute, nullptr) != 0) return errno;
  if (ErrorCode error = CopyInodeFlags(Fd(original), Fd(temp)); error != 0) return error;
  return fchmod(Fd(temp), info.st_mode & 07777) == 0 ? 0 : errno;
}

bool IdentityCannotTravel(ErrorCode error) {
  return error == EPERM || error == ENOTSUP || error == EACCES;
}

ErrorCode MoveIntoPlace(NativeHandle& temp, std::string& name, const std::string& path,
                        const FileStamp& original) {
  const InterruptionsHeld held;
  if (name.empty()) {
    if (ErrorCode error = LinkUnnamed(temp, TempName(path), name); error != 0) return error;
  }
  FileStamp fresh;
  StampOf(temp, fresh);
  const int closed = close(Fd(temp));
  temp = kInvalidHandle;
  if (closed != 0) return errno;
  if (ErrorCode error = ExchangeInto(name, path, original, fresh); error != 0) return error;
  name.clear();
  RemoveOnInterruption({});
  return 0;
}

ErrorCode NameStagedCopy(NativeHandle temp, std::string& name, const std::string& path) {
  return name.empty() ? LinkUnnamed(temp, StagedName(path), name) : 0;
}

ErrorCode SyncFolderOf(const std::string& name) {
  const int fd = open(FolderOf(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;  // the entry stands; only its durability is the system's now
  const int synced = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  close(fd);
  return synced;
}

ErrorCode OverwriteWith(NativeHandle staged, std::uint64_t size, NativeHandle original,
                        bool& touched) {
  const int fd = open(OpenFilePath(original).c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat reopened {};
  struct stat opened {};
  ErrorCode error = 0;
  if (fstat(fd, &reopened) != 0 || fstat(Fd(original), &opened) != 0 ||
      !SameFile(ToStamp(reopened), ToStamp(opened))) {
    error = kChangedMeanwhile;
  }
  if (error == 0) error = Reserve(fd, size, opened);
  if (error == 0) error = CopyRange(Fd(staged), fd, size, touched);
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}

void RemoveFile(const std::string& name) { unlink(name.c_str()); }

}  // namespace platform::sys
