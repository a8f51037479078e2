#include "platform/console_io.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

NativeHandle StandardInputHandle() { return STDIN_FILENO; }
NativeHandle StandardOutputHandle() { return STDOUT_FILENO; }
NativeHandle StandardErrorHandle() { return STDERR_FILENO; }

HandleKind ClassifyHandle(NativeHandle handle) {
  struct stat info {};
  if (fstat(static_cast<int>(handle), &info) != 0) return HandleKind::kUnknown;
  return S_ISCHR(info.st_mode) ? HandleKind::kCharacter : HandleKind::kOther;
}

namespace {

ssize_t ReadRetrying(int fd, char* buffer, std::uint32_t capacity) {
  ssize_t got = 0;
  do {
    got = read(fd, buffer, capacity);
  } while (got < 0 && errno == EINTR);
  return got;
}

}  // namespace

IoResult ReadConsoleBytes(NativeHandle handle, char* buffer, std::uint32_t capacity) {
  const int fd = static_cast<int>(handle);
  const bool terminal = isatty(fd) != 0;
  // Leave room for the CR that a terminal line end gains.
  const std::uint32_t request = terminal && capacity > 1 ? capacity - 1 : capacity;
  const ssize_t got = ReadRetrying(fd, buffer, request);
  if (got < 0) return {false, 0, errno};
  auto count = static_cast<std::uint32_t>(got);
  if (terminal && count > 0 && count < capacity && buffer[count - 1] == '\n') {
    buffer[count - 1] = '\r';
    buffer[count++] = '\n';
  }
  return {true, count, 0};
}

IoResult WriteConsoleBytes(NativeHandle handle, const char* bytes, std::uint32_t count) {
  const int fd = static_cast<int>(handle);
  std::uint32_t done = 0;
  while (done < count) {
    const ssize_t put = write(fd, bytes + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return {false, done, put < 0 ? errno : EIO};
    done += static_cast<std::uint32_t>(put);
  }
  return {true, done, 0};
}

// A terminal shows the bytes as they are.
IoResult WriteConsoleText(NativeHandle handle, const char* text, std::uint32_t count) {
  return WriteConsoleBytes(handle, text, count);
}

ConsoleWindow OwnConsoleWindow() { return {}; }

bool ErrorCodesAreWindows() { return false; }

void CloseNativeHandle(NativeHandle handle) { close(static_cast<int>(handle)); }

}  // namespace platform
