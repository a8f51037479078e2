#include "platform/file_replacement.h"

#include <algorithm>
#include <attr/libattr.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/interruptions.h"

namespace platform {

namespace {

using sys::StampOf;

// How a file can take new content and stay what it is: a temporary file
// beside it put in its place by a rename, or, where a rename would lose the
// owner, the group or other links, or the folder takes no new file, the new
// content staged in full under a name of its own and then copied over the
// file.
enum class ReplaceBy { kRename, kOverwrite };

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
// the same file again, and access() asks about that file. Only where /proc
// is mounted.
std::string OpenFilePath(NativeHandle handle) {
  return "/proc/self/fd/" + std::to_string(Fd(handle));
}

bool OpenFilesAreListed() { return access("/proc/self/fd", X_OK) == 0; }

// Whether `path` names the open file `fd` (a link not followed).
bool Names(const std::string& path, int fd) {
  struct stat named {};
  struct stat open {};
  return lstat(path.c_str(), &named) == 0 && fstat(fd, &open) == 0 && S_ISREG(named.st_mode) &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
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
// Beside the file it is a dot-file.
std::string StagedLeaf(const std::string& path, bool beside) {
  return (beside ? ".camfix-" : "camfix-") + std::to_string(getpid()) + "-" +
         NameOf(path).substr(0, 200);
}

// The folders camfix makes for its staged copies, one for each: this user's,
// fresh, mode 0700, so that no one else can put or change a file there.
std::string PrivateFolderPrefix() { return "/var/tmp/camfix-" + std::to_string(geteuid()) + "-"; }

ErrorCode MakePrivateFolder(std::string& folder) {
  folder = PrivateFolderPrefix() + "XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) return errno;
  struct stat info {};
  if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 07777) != 0700) {
    return EEXIST;
  }
  return 0;
}

bool InPrivateFolder(const std::string& name) {
  return name.starts_with(PrivateFolderPrefix()) &&
         name.find('/', PrivateFolderPrefix().size()) != std::string::npos;
}

// The name a staged copy of `path` has once complete, in the folder of the
// file `temp` that holds it: beside `path`, or in a private folder.
std::string StagedNameBeside(const std::string& temp, const std::string& path) {
  const bool beside = FolderOf(temp) == FolderOf(path);
  return Beside(temp, StagedLeaf(path, beside));
}

// The working name of a staged copy while it is written: its name once
// complete with this ending, which no complete copy has.
constexpr std::string_view kPartial = ".partial";

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

// Gives the unnamed `temp` the name `name`, never replacing a file: by its
// descriptor where the system allows that (privileged, or a recent kernel),
// else through /proc.
bool Link(NativeHandle temp, const char* name) {
  if (linkat(Fd(temp), "", AT_FDCWD, name, AT_EMPTY_PATH) == 0) return true;
  if (errno == EEXIST || !OpenFilesAreListed()) return false;
  return linkat(AT_FDCWD, OpenFilePath(temp).c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
}

ErrorCode LinkUnnamed(NativeHandle temp, const std::string& base, std::string& name) {
  const ErrorCode error =
      MakeUnderFreshName(base, name, [&](const char* candidate) { return Link(temp, candidate); });
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

// Copies [begin, end) of `from` to the same offsets of `to`; sets `touched`
// once a byte of `to` has changed.
ErrorCode CopyRange(int from, int to, std::uint64_t begin, std::uint64_t end, bool& touched) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  const std::unique_ptr<char[]> block(new char[kBlock]);
  for (auto at = static_cast<off_t>(begin); static_cast<std::uint64_t>(at) < end;) {
    const auto wanted = std::min<std::uint64_t>(kBlock, end - static_cast<std::uint64_t>(at));
    const ssize_t got = pread(from, block.get(), static_cast<std::size_t>(wanted), at);
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
  return 0;
}

// Whether the first `size` bytes of both files are the same.
bool SameBytes(int a, int b, std::uint64_t size) {
  constexpr std::size_t kBlock = std::size_t{1} << 20;
  const std::unique_ptr<char[]> mine(new char[kBlock]);
  const std::unique_ptr<char[]> theirs(new char[kBlock]);
  for (off_t at = 0; static_cast<std::uint64_t>(at) < size;) {
    const auto wanted = std::min<std::uint64_t>(kBlock, size - static_cast<std::uint64_t>(at));
    const ssize_t got = pread(a, mine.get(), static_cast<std::size_t>(wanted), at);
    if (got <= 0 || pread(b, theirs.get(), static_cast<std::size_t>(got), at) != got ||
        std::memcmp(mine.get(), theirs.get(), static_cast<std::size_t>(got)) != 0) {
      return false;
    }
    at += got;
  }
  return true;
}

// Whether the open file still has the stamp it was opened with.
bool AsOpened(int fd, const FileStamp& opened) {
  FileStamp now;
  return StampOf(NativeHandle{fd}, now) && now == opened;
}

// Whether the open file still has the size `size`, which an append moves
// (its times also move with camfix's own reservation).
bool HasSize(int fd, std::uint64_t size) {
  struct stat now {};
  return fstat(fd, &now) == 0 && static_cast<std::uint64_t>(now.st_size) == size;
}

// Reserves room for `size` bytes without changing a byte or the size of the
// file: blocks beyond its end. Where the file system refuses those (FUSE),
// `by_the_tail`: the new content's part beyond the old end is to be written
// once the file has its new size.
ErrorCode ReserveBeyondTheEnd(int fd, std::uint64_t size, bool& by_the_tail) {
  if (size == 0 || fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return 0;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  by_the_tail = true;
  return 0;
}

// Gives the file, checked at once to have its old size `old_size` (else
// kChangedMeanwhile), its new size `size` where that is larger (`extended`),
// so that an append from then on lands past it; `by_the_tail`: the new
// content's part beyond the old end is then written and flushed there, to
// fail on a full disk before an old byte changes.
ErrorCode Extend(int staged, int fd, std::uint64_t size, std::uint64_t old_size, bool by_the_tail,
                 bool& extended) {
  if (!HasSize(fd, old_size)) return kChangedMeanwhile;
  if (size <= old_size) return 0;
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) return errno;
  extended = true;
  if (!by_the_tail) return 0;
  bool beyond_the_end = false;
  if (ErrorCode error = CopyRange(staged, fd, old_size, size, beyond_the_end); error != 0) {
    return error;
  }
  return fsync(fd) == 0 ? 0 : errno;
}

// After `error` and before the file's first old byte changed: puts it back
// as it was opened, its size and write time, where it has the size camfix
// left it with (its old one, or `size` once `extended`), checked just before
// the cut. Else another program wrote to it meanwhile: it is left alone and
// the error is kChangedMeanwhile, with `touched` where camfix extended it.
ErrorCode PutBack(int fd, const struct stat& old, std::uint64_t size, bool extended,
                  ErrorCode error, bool& touched) {
  if (!HasSize(fd, extended ? size : static_cast<std::uint64_t>(old.st_size))) {
    touched = extended;
    return kChangedMeanwhile;
  }
  if (extended) ftruncate(fd, old.st_size);
  const timespec times[2] = {{0, UTIME_OMIT}, old.st_mtim};
  futimens(fd, times);
  return error;
}

constexpr const char* kCapability = "security.capability";

// Whether camfix may set the set-id bits of `info` again once a write by
// another user has cleared them.
bool MayPutBackMode(const struct stat& info) {
  if (geteuid() == 0) return true;
  return info.st_uid == geteuid() && ((info.st_mode & S_ISGID) == 0 || InOurGroups(info.st_gid));
}

// What a write clears and camfix puts back afterwards: set-id bits (cleared
// for a writer without CAP_FSETID) and a file capability (always cleared).
// EPERM where camfix could not put them back, decided before anything
// changes; a capability is set again to the value it has to find that out.
ErrorCode NoteWhatAWriteClears(int fd, const struct stat& info, std::string& capability) {
  if ((info.st_mode & (S_ISUID | S_ISGID)) != 0 && !MayPutBackMode(info)) return EPERM;
  capability.assign(1024, '\0');
  const ssize_t length = fgetxattr(fd, kCapability, capability.data(), capability.size());
  capability.resize(static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
  if (capability.empty()) return 0;
  return fsetxattr(fd, kCapability, capability.data(), capability.size(), XATTR_REPLACE) == 0
             ? 0
             : errno;
}

ErrorCode PutBackWhatAWriteCleared(int fd, const struct stat& old, const std::string& capability) {
  struct stat now {};
  if (fstat(fd, &now) != 0) return errno;
  if ((now.st_mode & 07777) != (old.st_mode & 07777) && fchmod(fd, old.st_mode & 07777) != 0) {
    return errno;
  }
  if (capability.empty()) return 0;
  return fsetxattr(fd, kCapability, capability.data(), capability.size(), 0) == 0 ? 0 : errno;
}

// A write lease on the file, where the system grants one (to its owner or a
// holder of CAP_LEASE, while no other descriptor has the file open): another
// program's open of the file waits until it ends, or until the system's
// lease break time has passed. The break is signalled with SIGURG, which the
// process ignores.
bool TakeLease(int fd) {
  return fcntl(fd, F_SETSIG, SIGURG) == 0 && fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
}

double SecondsSince(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// The system's lease break time in seconds; 0 where it cannot be read.
double LeaseBreakSeconds() {
  std::ifstream setting("/proc/sys/fs/lease-break-time");
  long seconds = 0;
  if (!(setting >> seconds)) return 0;
  return static_cast<double>(seconds);
}

// Whether no other program can have written under the lease taken at
// `taken`: no writer has asked to open the file (readers that did wait), or
// one has, but not long enough ago for its wait to have ended.
bool LeaseKeptOthersOut(int fd, const timespec& taken) {
  return fcntl(fd, F_GETLEASE) != F_UNLCK || SecondsSince(taken) + 1 < LeaseBreakSeconds();
}

// Copies every attribute but those the system marks to be skipped; the access
// control lists come with them.
extern "C" int CopiedAttribute(const char* name, struct error_context* context) {
  return attr_copy_action(name, context) != ATTR_ACTION_SKIP ? 1 : 0;
}

// Starts writing [offset, offset + length) to disk without waiting; a hint.
void StartWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length) {
  sync_file_range(Fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                  SYNC_FILE_RANGE_WRITE);
}

// Waits until the writeback of [offset, offset + length) has ended: 0, or the
// code of a write that failed there, which fsync may no longer report.
ErrorCode FinishWriteback(NativeHandle handle, std::uint64_t offset, std::uint64_t length) {
  constexpr unsigned kWait =
      SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  return sync_file_range(Fd(handle), static_cast<off_t>(offset), static_cast<off_t>(length),
                         kWait) == 0
             ? 0
             : errno;
}

// open file itself where /proc is mounted, else about its name, which must
// still lead to it.
ErrorCode MayWrite(NativeHandle original, const std::string& path) {
  if (OpenFilesAreListed()) return access(OpenFilePath(original).c_str(), W_OK) == 0 ? 0 : errno;
  if (!Names(path, Fd(original))) return kChangedMeanwhile;
  return access(path.c_str(), W_OK) == 0 ? 0 : errno;
}

// 0 with the way, or the code that refuses any new content for the open file
// `original` at `path` (EPERM for an overwrite in place that would clear
// set-id bits or a file capability camfix cannot set again). A file without
// write permission counts as read-only, also for root.
ErrorCode PlanReplacement(NativeHandle original, const std::string& path, ReplaceBy& how) {
  struct stat info {};
  if (fstat(Fd(original), &info) != 0) return errno;
  if ((info.st_mode & 0222) == 0) return EACCES;
  if (ErrorCode error = MayWrite(original, path); error != 0) return error;
  how = RenameKeepsIdentity(path, info) ? ReplaceBy::kRename : ReplaceBy::kOverwrite;
  if (how == ReplaceBy::kRename) return 0;
  if ((info.st_mode & (S_ISUID | S_ISGID)) != 0 && !MayPutBackMode(info)) return EPERM;
  const bool capability = fgetxattr(Fd(original), kCapability, nullptr, 0) > 0;
  return capability && geteuid() != 0 ? EPERM : 0;
}

// An empty file without a name in the folder of `path`, open for reading and
// writing, where the file system allows and it can be named later; else
// kInvalidHandle (open's -1).
NativeHandle CreateUnnamed(const std::string& path) {
  if (!OpenFilesAreListed() && geteuid() != 0) return kInvalidHandle;
  return open(FolderOf(path).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

// An empty file for new content of `path`, open for reading and writing,
// named in `name`. kRename: beside `path`, under a fresh name. kOverwrite:
// the staged copy under the working name `.camfix-PID-NAME.partial` beside it
// where the folder takes new files, else in a fresh folder of the user's own
// that no one else can write, in the system's folder for files that outlive a
// restart. No CAM pattern selects the name, and an interruption removes the
// file. On failure `name` tells which file could not be made, when it is not
// `path`'s own.
NativeHandle CreateTemporary(const std::string& path, ReplaceBy how, std::string& name,
                             ErrorCode& error) {
  name.clear();
  int fd = -1;
  const auto make = [&fd](const char* candidate) {
    fd = open(candidate, O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0;
  };
  const InterruptionsHeld held;  // no interruption between making and registering
  if (how == ReplaceBy::kRename) {
    error = MakeUnderFreshName(TempName(path), name, make);
    if (error != 0) name.clear();
  } else {
    std::string folder;
    if (!FolderTakesNewFiles(path) && (error = MakePrivateFolder(folder)) != 0) {
      name = folder;
      return kInvalidHandle;
    }
    name = StagedNameBeside(folder.empty() ? path : folder + "/", path) + std::string(kPartial);
    error = make(name.c_str()) ? 0 : errno;
    if (error != 0 && !folder.empty()) rmdir(folder.c_str());
  }
  if (error != 0) return kInvalidHandle;
  RemoveOnInterruption(name);
  return fd;
}

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

// Gives `temp` the owner, group, permissions, access control lists, extended
// attributes and inode flags of `original` (the owner first, the permissions
// last, so that set-id bits survive). A file system may take a change of
// owner or mode without making it (a FUSE folder that ignores chown): what the
// new file really has is checked. A code for which IdentityCannotTravel is
// true means that a rename would lose some of it.
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
  if (fchmod(Fd(temp), info.st_mode & 07777) != 0 || fstat(Fd(temp), &own) != 0) return errno;
  const bool taken = own.st_uid == info.st_uid && own.st_gid == info.st_gid &&
                     (own.st_mode & 07777) == (info.st_mode & 07777);
  return taken ? 0 : EPERM;
}

bool IdentityCannotTravel(ErrorCode error) {
  return error == EPERM || error == ENOTSUP || error == EACCES;
}

// Puts `temp` in the place of `path`, which must still be the file `original`
// (else kChangedMeanwhile, and `path` keeps it); names and closes `temp`
// first.
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

// Gives the complete staged copy `temp` of `path` (unnamed, or named in `name`)
// the name a staged copy has, which `name` then holds: `.camfix-PID-NAME`
// beside `path`, or `camfix-PID-NAME` in its private folder. On failure
// `staged` is the name that could not be made. It takes its name only now
// that it is complete: a name taken meanwhile (by another user, in a shared
// folder) is never replaced, and fails the save instead.
ErrorCode NameStagedCopy(NativeHandle temp, std::string& name, const std::string& path,
                         std::string& staged) {
  const InterruptionsHeld held;
  staged = StagedNameBeside(name.empty() ? path : name, path);
  if (name.empty()) {
    if (!Link(temp, staged.c_str())) return errno;
  } else if (renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, staged.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL || link(name.c_str(), staged.c_str()) != 0) return errno;
    unlink(name.c_str());
  }
  name = staged;
  RemoveOnInterruption(name);
  return 0;
}

// Makes the entry `name` durable in its folder.
ErrorCode SyncFolderOf(const std::string& name) {
  const int fd = open(FolderOf(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return 0;  // the entry stands; only its durability is the system's now
  const int synced = fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  close(fd);
  return synced;
}

// The open file `original` at `path` opened again for reading and writing,
// checked to be the same file, and made the one description of it that this
// process holds (under `original`'s descriptor), which a lease needs.
ErrorCode ReopenForWriting(NativeHandle original, const std::string& path) {
  int fd = -1;
  if (OpenFilesAreListed()) {
    fd = open(OpenFilePath(original).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else if (Names(path, Fd(original))) {
    fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  } else {
    return kChangedMeanwhile;
  }
  if (fd < 0) return errno;
  struct stat reopened {};
  struct stat opened {};
  ErrorCode error = 0;
  if (fstat(fd, &reopened) != 0 || fstat(Fd(original), &opened) != 0 ||
      !S_ISREG(reopened.st_mode) || reopened.st_dev != opened.st_dev ||
      reopened.st_ino != opened.st_ino) {
    error = kChangedMeanwhile;
  } else if (fcntl(fd, F_SETFL, 0) != 0 || dup3(fd, Fd(original), O_CLOEXEC) < 0) {
    error = errno;
  }
  close(fd);
  return error;
}

// Writes the staged copy over the file, which has the stamp `old`, and sets
// again what the write cleared. An append by another program shows as a file
// that had not the size `old` has just before it took its new size, or that
// is longer than that afterwards. A failure before an old byte changed puts
// the file back (PutBack).
ErrorCode OverwriteFrom(int staged, std::uint64_t size, int fd, const struct stat& old,
                        const std::string& capability, bool& touched) {
  const auto old_size = static_cast<std::uint64_t>(old.st_size);
  bool by_the_tail = false;
  bool extended = false;
  ErrorCode error = ReserveBeyondTheEnd(fd, size, by_the_tail);
  if (error == 0) error = Extend(staged, fd, size, old_size, by_the_tail, extended);
  if (error == 0) error = CopyRange(staged, fd, 0, size, touched);
  const auto end = std::max(size, old_size);
  struct stat now {};
  if (error == 0 && (fstat(fd, &now) != 0 || static_cast<std::uint64_t>(now.st_size) != end)) {
    touched = true;
    error = kChangedMeanwhile;
  }
  if (error == 0 && size < end) {
    touched = true;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) error = errno;
  }
  if (error == 0) error = PutBackWhatAWriteCleared(fd, old, capability);
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (error != 0 && !touched) error = PutBack(fd, old, size, extended, error, touched);
  return error;
}

// Writes the staged copy over the file, which must still be as `opened`
// (else kChangedMeanwhile, and it is left alone): checked once a lease is
// granted, which keeps every other writer out from then on, and, for want of
// one, by its size again just before it grows to its new size. A write by
// another program that no lease held off shows after that as a file longer
// than its new size, or as bytes that are not the staged copy's.
ErrorCode Overwrite(int staged, std::uint64_t size, int fd, const FileStamp& opened,
                    bool& touched) {
  struct stat old {};
  if (fstat(fd, &old) != 0) return errno;
  timespec leased_at{};
  clock_gettime(CLOCK_MONOTONIC, &leased_at);
  const bool leased = TakeLease(fd);
  std::string capability;
  ErrorCode error =
      AsOpened(fd, opened) ? NoteWhatAWriteClears(fd, old, capability) : kChangedMeanwhile;
  if (error == 0) error = OverwriteFrom(staged, size, fd, old, capability, touched);
  if (error == 0 && !(leased ? LeaseKeptOthersOut(fd, leased_at) : SameBytes(staged, fd, size))) {
    error = kChangedMeanwhile;
  }
  if (leased) fcntl(fd, F_SETLEASE, F_UNLCK);
  return error;
}

// Writes the first `size` bytes of `staged` over the open file `original` at
// `path` from offset 0 and makes them durable. The file is opened again for
// writing (through /proc, else through `path`), checked to be the same file,
// and that description takes `original`'s place. Before the first byte
// changes: a write lease is taken where the system grants one, the file must
// still be as it was opened (else kChangedMeanwhile), what a write clears
// (set-id bits, a file capability) must be what camfix can put back (else
// EPERM), and the room needed is reserved; a failure there leaves the file
// as it was, or, where another program changed it meanwhile, as that left it. Sets `touched` once
// the file's bytes have begun to change. kChangedMeanwhile, with `touched`, when another program
// may have written to the file meanwhile.
ErrorCode OverwriteWith(NativeHandle staged, std::uint64_t size, const InputFile& original,
                        const std::string& path, bool& touched) {
  if (ErrorCode error = ReopenForWriting(original.Handle(), path); error != 0) return error;
  return Overwrite(Fd(staged), size, Fd(original.Handle()), original.Stamp(), touched);
}

// Removes a file by name, and the private folder of a staged copy with it;
// failures are ignored.
void RemoveFile(const std::string& name) {
  unlink(name.c_str());
  if (InPrivateFolder(name)) rmdir(FolderOf(name).c_str());
}

// Every this many bytes the written part starts on its way to the disk, so
// that the final flush overlaps the conversion instead of following it.
constexpr std::uint64_t kWritebackStep = std::uint64_t{4} << 20;
// The step this many steps back is waited for: what is not yet on its way to
// the disk stays small, and so does the final flush.
constexpr std::uint64_t kWritebackLag = 8;

// The new content in a temporary file beside the original, put in its place
// by an exchange of names; or, where that would lose what the file is, staged
// in full under a name of its own and then copied over the file itself.
class PosixReplacement : public FileReplacement {
 public:
  PosixReplacement(const std::string& path, const InputFile& original,
                   const std::function<void()>& before_naming);
  ~PosixReplacement() override { Discard(); }
  PosixReplacement(const PosixReplacement&) = delete;
  PosixReplacement& operator=(const PosixReplacement&) = delete;

  void Write(const char* data, std::size_t count) override;
  void StartFlush(Background& flushes) override { platform::StartFlush(content_, flushes); }
  bool InPlace() const override { return how_ == ReplaceBy::kOverwrite; }
  CommitResult Commit() override;

 private:
  void Discard();
  CommitResult Rename();
  CommitResult CommitInPlace();

  ReplaceBy how_ = ReplaceBy::kRename;
  std::string temp_name_;  // empty while the temporary file has no name
  std::uint64_t written_ = 0;
  NewContent content_;
};

PosixReplacement::PosixReplacement(const std::string& path, const InputFile& original,
                                   const std::function<void()>& before_naming)
    : content_{path, original} {
  content_.begin_error = PlanReplacement(original.Handle(), path, how_);
  if (content_.begin_error != 0) return;
  content_.temp = CreateUnnamed(path);
  if (IsOpen(content_)) return;
  before_naming();
  content_.temp = CreateTemporary(path, how_, temp_name_, content_.begin_error);
  if (IsOpen(content_)) return;
  content_.failed_place = std::exchange(temp_name_, {});
  RemoveOnInterruption({});
}

// The name an interruption removes is this file's while it has one; else it
// may be that of the file before, still being committed.
void PosixReplacement::Discard() {
  content_.flush.Wait();  // the file is in use there
  if (IsOpen(content_)) close(Fd(content_.temp));
  content_.temp = kInvalidHandle;
  if (temp_name_.empty()) return;
  RemoveFile(temp_name_);
  temp_name_.clear();
  RemoveOnInterruption({});
}

// A staged copy still without a name is beside the file, on its volume.
void PosixReplacement::Write(const char* data, std::size_t count) {
  if (!IsOpen(content_) || content_.write_error != 0) return;
  while (count > 0) {
    auto put = sys::WriteSome(content_.temp, data, count, content_.write_error);
    if (put == 0) content_.write_error = ENOSPC;
    const auto before = written_;
    if (put > 0) written_ += static_cast<std::uint64_t>(put);
    if (put > 0 && written_ / kWritebackStep != before / kWritebackStep) {
      const auto steps = written_ / kWritebackStep;
      StartWriteback(content_.temp, (steps - 1) * kWritebackStep, kWritebackStep);
      if (steps > kWritebackLag) {
        content_.write_error = FinishWriteback(
            content_.temp, (steps - 1 - kWritebackLag) * kWritebackStep, kWritebackStep);
      }
    }
    if (put <= 0 || content_.write_error != 0) {
      if (InPlace()) content_.failed_place = temp_name_.empty() ? content_.path : temp_name_;
      return;
    }
    data += put;
    count -= static_cast<std::size_t>(put);
  }
}

CommitResult PosixReplacement::Commit() {
  using Outcome = CommitResult::Outcome;
  if (auto unready = Unready(content_)) return *unready;
  if (!InPlace()) {
    const ErrorCode error = CopyIdentity(content_.original.Handle(), content_.temp);
    if (error == 0) return Rename();
    if (!IdentityCannotTravel(error)) return Result(content_, Outcome::kRefused, error);
    how_ = ReplaceBy::kOverwrite;  // what the file is stays only with the file itself
  }
  std::string staged;
  if (ErrorCode named = NameStagedCopy(content_.temp, temp_name_, content_.path, staged);
      named != 0) {
    content_.failed_place = staged;
    return Result(content_, Outcome::kRefused, named);
  }
  return CommitInPlace();
}

CommitResult PosixReplacement::Rename() {
  const ErrorCode moved =
      MoveIntoPlace(content_.temp, temp_name_, content_.path, content_.original.Stamp());
  if (moved == kChangedMeanwhile)
    return Result(content_, CommitResult::Outcome::kChangedMeanwhile, moved);
  if (moved != 0) return Result(content_, CommitResult::Outcome::kRefused, moved);
  return Result(content_, CommitResult::Outcome::kRenamed);
}

// The staged copy is complete and durable under its name before the first
// byte of the file changes; it goes once the file is, before a held
// interruption is acted on.
CommitResult PosixReplacement::CommitInPlace() {
  using Outcome = CommitResult::Outcome;
  if (ErrorCode error = SyncFolderOf(temp_name_); error != 0)
    return Result(content_, Outcome::kRefused, error);
  const InterruptionsHeld held;
  if (!content_.original.Unchanged(content_.path))
    return Result(content_, Outcome::kChangedMeanwhile, kChangedMeanwhile);
  bool touched = false;
  const ErrorCode error =
      OverwriteWith(content_.temp, written_, content_.original, content_.path, touched);
  if (error == 0) {
    Discard();
    return Result(content_, Outcome::kRewrittenInPlace);
  }
  CommitResult result = Result(
      content_, error == kChangedMeanwhile ? Outcome::kChangedMeanwhile : Outcome::kRefused, error);
  if (touched) {
    result.kept_at = std::exchange(temp_name_, {});
    RemoveOnInterruption({});
  }
  return result;
}

class PosixReplacer : public FileReplacer {
 public:
  std::unique_ptr<FileReplacement> Begin(const std::string& path, const InputFile& original,
                                         const std::function<void()>& before_naming) override {
    return std::make_unique<PosixReplacement>(path, original, before_naming);
  }
  ErrorCode FlushFolderOf(const std::string& path) override { return SyncFolderOf(path); }
};

}  // namespace

FileReplacer& SystemReplacer() {
  static PosixReplacer replacer;
  return replacer;
}

}  // namespace platform
