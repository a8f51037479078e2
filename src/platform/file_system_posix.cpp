#include "platform/file_system.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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

namespace {

int Fd(NativeHandle handle) { return static_cast<int>(handle); }

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

ErrorCode SyncFile(NativeHandle handle) { return fsync(Fd(handle)) == 0 ? 0 : errno; }

std::uint64_t FreeSpace(NativeHandle handle) {
  struct statvfs volume {};
  if (fstatvfs(Fd(handle), &volume) != 0) return 0;
  return std::uint64_t{volume.f_bavail} * volume.f_frsize;
}

}  // namespace platform::sys
