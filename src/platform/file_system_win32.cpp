#include "platform/file_io.h"

#include <windows.h>

#include "platform/process.h"

namespace platform {

namespace {

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

ErrorCode LastError() { return static_cast<ErrorCode>(GetLastError()); }

// At most this many bytes go in one ReadFile or WriteFile request.
constexpr std::int64_t kRequestLimit = 1 << 30;

DWORD RequestSize(std::int64_t rest) {
  return static_cast<DWORD>(rest < kRequestLimit ? rest : kRequestLimit);
}

// Attributes for which the platform refuses to create a file anew.
constexpr DWORD kUnreplaceable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// A handle from CreateFileA that lives for one check; closed on destruction.
class ProbeHandle {
 public:
  ProbeHandle(const std::string& path, DWORD access, DWORD share)
      : handle_(CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~ProbeHandle() {
    if (IsOpen()) CloseHandle(handle_);
  }
  ProbeHandle(const ProbeHandle&) = delete;
  ProbeHandle& operator=(const ProbeHandle&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

// 0 when the file at `path` could be created anew now, else the code the
// platform gives for it: read-only, hidden, system, a folder, open elsewhere.
ErrorCode ReplaceRefusal(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : LastError();
  }
  if ((attributes & kUnreplaceable) != 0) return ERROR_ACCESS_DENIED;
  const ProbeHandle exclusive(path, GENERIC_READ | GENERIC_WRITE, 0);
  return exclusive.IsOpen() ? 0 : LastError();
}

// The folder part of `path`, "." for a bare name.
std::string FolderOf(const std::string& path) {
  const auto length = static_cast<std::size_t>(FileNameOf(path.c_str()) - path.c_str());
  return length == 0 ? std::string(".") : path.substr(0, length);
}

}  // namespace

ReadableFile::ReadableFile(const std::string& path) {
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error_ = LastError();
    return;
  }
  handle_ = reinterpret_cast<NativeHandle>(handle);
}

ReadableFile::~ReadableFile() {
  if (IsOpen()) CloseHandle(AsHandle(handle_));
}

std::int64_t ReadableFile::RemainingSize() {
  LARGE_INTEGER here{};
  LARGE_INTEGER end{};
  const HANDLE handle = AsHandle(handle_);
  const bool measured = SetFilePointerEx(handle, LARGE_INTEGER{}, &here, FILE_CURRENT) &&
                        SetFilePointerEx(handle, LARGE_INTEGER{}, &end, FILE_END);
  SetFilePointerEx(handle, here, nullptr, FILE_BEGIN);
  return measured ? end.QuadPart - here.QuadPart : 0;
}

std::int64_t ReadableFile::Read(char* data, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count) {
    const DWORD request = RequestSize(count - done);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), data + done, request, &got, nullptr) || got == 0) break;
    done += got;
  }
  return done;
}

// The temporary file is cfxXXXX.tmp beside the file: a short name already, so
// neither its long nor its short name contains ".g", ".inf" or ".drl".
FileReplacement::FileReplacement(const std::string& path)
    : path_(path), error_(ReplaceRefusal(path)) {
  if (error_ != 0) return;
  char temp[MAX_PATH];
  if (GetTempFileNameA(FolderOf(path).c_str(), "cfx", 0, temp) == 0) {
    error_ = LastError();
    return;
  }
  temp_path_ = temp;
  const HANDLE handle = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error_ = LastError();
    Discard();
    return;
  }
  handle_ = reinterpret_cast<NativeHandle>(handle);
}

FileReplacement::~FileReplacement() { Discard(); }

void FileReplacement::Discard() {
  if (IsOpen()) CloseHandle(AsHandle(handle_));
  handle_ = kInvalidHandle;
  if (!temp_path_.empty()) DeleteFileA(temp_path_.c_str());
  temp_path_.clear();
}

bool FileReplacement::Write(const char* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const DWORD request = RequestSize(static_cast<std::int64_t>(count - done));
    DWORD put = 0;
    if (!WriteFile(AsHandle(handle_), data + done, request, &put, nullptr) || put != request) {
      return false;
    }
    done += put;
  }
  return true;
}

// The new content takes the file's attributes that survive a rewrite (the
// archive bit, which a rewrite sets, and the indexing bit).
ErrorCode FileReplacement::Commit() {
  ErrorCode error = 0;
  if (!FlushFileBuffers(AsHandle(handle_))) error = LastError();
  if (!CloseHandle(AsHandle(handle_)) && error == 0) error = LastError();
  handle_ = kInvalidHandle;
  const DWORD attributes = GetFileAttributesA(path_.c_str());
  if (error == 0 && attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(temp_path_.c_str(),
                       FILE_ATTRIBUTE_ARCHIVE | (attributes & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  }
  if (error == 0 && !MoveFileExA(temp_path_.c_str(), path_.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = LastError();
  }
  if (error == 0) temp_path_.clear();
  Discard();
  return error;
}

// Empty when the full path does not fit 260 bytes.
std::string FullPathName(const std::string& path) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return length == 0 || length >= sizeof full ? std::string() : std::string(full, length);
}

std::string SystemErrorText(ErrorCode code) {
  char text[256];
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  return {text, length};
}

// A folder; a name that the platform takes for a device (CON, NUL, COM1 ...
// with any extension before Windows 11), which resolves to "\\.\NAME"; or,
// under wine, a FIFO, socket or device node of the host. A link to a file
// counts as the file, and a missing entry is left for the load to report.
bool IsSpecialEntry(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  const DWORD error = GetLastError();
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  if (FullPathName(path).rfind(R"(\\.\)", 0) == 0) return true;
  if (attributes == INVALID_FILE_ATTRIBUTES &&
      (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
    return false;
  }
  // Opening for no access at all reads nothing, blocks on nothing and meets
  // no sharing conflict.
  const ProbeHandle probe(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!probe.IsOpen()) return attributes == INVALID_FILE_ATTRIBUTES;
  return GetFileType(probe.Get()) != FILE_TYPE_DISK;
}

}  // namespace platform
