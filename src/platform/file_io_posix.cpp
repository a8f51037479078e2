#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int Fd(NativeHandle handle) { return static_cast<int>(handle); }

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t DefaultFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

ReadableFile::ReadableFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    error_ = EISDIR;
    return;
  }
  handle_ = fd;
}

ReadableFile::~ReadableFile() {
  if (IsOpen()) close(Fd(handle_));
}

std::int64_t ReadableFile::RemainingSize() {
  const off_t here = lseek(Fd(handle_), 0, SEEK_CUR);
  const off_t end = lseek(Fd(handle_), 0, SEEK_END);
  lseek(Fd(handle_), here, SEEK_SET);
  return here < 0 || end < 0 ? 0 : end - here;
}

std::int64_t ReadableFile::Read(char* data, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(count - done, 1 << 30));
    const ssize_t got = read(Fd(handle_), data + done, chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  return done;
}

FileReplacement::FileReplacement(const std::string& path) : path_(path) {
  mode_t mode = DefaultFileMode();
  struct stat info {};
  bool exists = false;
  if (stat(path.c_str(), &info) == 0) {
    exists = true;
    mode = info.st_mode & 07777;
    if (S_ISDIR(info.st_mode)) error_ = EISDIR;
    else if ((info.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0) error_ = EACCES;
    if (error_ != 0) return;
  } else if (errno != ENOENT) {
    error_ = errno;
    return;
  }
  std::string temp = FolderOf(path) + "/.camfix-XXXXXX.tmp";
  const int fd = mkostemps(temp.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  temp_path_ = temp;
  handle_ = fd;
  fchmod(fd, mode);
  if (exists && geteuid() == 0) (void)!fchown(fd, info.st_uid, info.st_gid);
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (IsOpen()) close(Fd(handle_));
  handle_ = kInvalidHandle;
  if (!temp_path_.empty()) unlink(temp_path_.c_str());
  temp_path_.clear();
}

bool FileReplacement::Write(const char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const auto chunk = std::min<std::size_t>(count - done, 1 << 30);
    const ssize_t put = write(Fd(handle_), data + done, chunk);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

ErrorCode FileReplacement::Commit() {
  ErrorCode error = 0;
  if (fsync(Fd(handle_)) != 0) error = errno;
  if (close(Fd(handle_)) != 0 && error == 0) error = errno;
  handle_ = kInvalidHandle;
  if (error == 0 && rename(temp_path_.c_str(), path_.c_str()) != 0) error = errno;
  if (error == 0) temp_path_.clear();
  Discard();
  return error;
}

std::string FullPathName(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  std::string folder(PATH_MAX, '\0');
  if (getcwd(folder.data(), folder.size()) == nullptr) return path;
  folder.resize(std::strlen(folder.c_str()));
  if (folder.back() != '/') folder += '/';
  return folder + path;
}

std::string SystemErrorText(ErrorCode code) { return std::strerror(code); }

bool IsSpecialEntry(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

}  // namespace platform
