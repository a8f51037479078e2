#include "platform/file_system.h"

#include <algorithm>
#include <iterator>

#include <windows.h>

#include "platform/handle_win32.h"
#include "platform/wide_text_win32.h"

namespace platform {

namespace {

ErrorCode LastError() { return static_cast<ErrorCode>(GetLastError()); }

}  // namespace

std::string FullPathName(const std::string& path) {
  const std::wstring name = WideText(path);
  const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  full.resize(length);
  return Utf8Text(full);
}

std::string SystemErrorText(ErrorCode code) {
  char text[256];
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  return {text, length};
}

}  // namespace platform

namespace platform::sys {

namespace {

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }
NativeHandle AsNative(HANDLE handle) { return reinterpret_cast<NativeHandle>(handle); }

std::uint64_t Joined(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// While camfix reads a file, others may read it too, and it may be renamed:
// that is how ReplaceFileW puts the new content in its place.
constexpr DWORD kShareReading = FILE_SHARE_READ | FILE_SHARE_DELETE;

// At most this many bytes go in one ReadFile or WriteFile request.
constexpr std::size_t kRequestLimit = std::size_t{1} << 30;

DWORD RequestSize(std::size_t count) { return static_cast<DWORD>(std::min(count, kRequestLimit)); }

HANDLE OpenExisting(const std::wstring& name, DWORD access, DWORD share, DWORD flags) {
  return CreateFileW(name.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

FileStamp ToStamp(const BY_HANDLE_FILE_INFORMATION& info, std::int64_t change_time) {
  const auto& written = info.ftLastWriteTime;
  return {info.dwVolumeSerialNumber, Joined(info.nFileIndexHigh, info.nFileIndexLow),
          Joined(info.nFileSizeHigh, info.nFileSizeLow),
          static_cast<std::int64_t>(Joined(written.dwHighDateTime, written.dwLowDateTime)),
          change_time};
}

// Whether the open entry is a reparse point, with its tag. A name-surrogate
// tag (a symbolic link, a junction) stands for a name elsewhere; a cloud
// placeholder is a reparse point too, but the file itself.
bool IsReparsePoint(HANDLE file, DWORD& tag) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info) ||
      (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return false;
  }
  tag = info.ReparseTag;
  return true;
}

}  // namespace

// The entry itself is opened, a reparse point included: a link is refused; a
// placeholder is opened again the usual way, which must give the same file.
NativeHandle OpenForReading(const std::string& path, ErrorCode& error) {
  const std::wstring name = WideText(path);
  constexpr DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
  ScopedHandle entry(
      OpenExisting(name, GENERIC_READ, kShareReading, kFlags | FILE_FLAG_OPEN_REPARSE_POINT));
  error = entry.IsOpen() ? kChangedMeanwhile : LastError();
  DWORD tag = 0;
  if (!entry.IsOpen() || GetFileType(entry.Get()) != FILE_TYPE_DISK) return kInvalidHandle;
  if (!IsReparsePoint(entry.Get(), tag)) return AsNative(entry.Release());
  FileStamp expected;
  FileStamp opened;
  if (IsReparseTagNameSurrogate(tag) || !StampOf(AsNative(entry.Get()), expected)) {
    return kInvalidHandle;
  }
  ScopedHandle file(OpenExisting(name, GENERIC_READ, kShareReading, kFlags));
  if (!file.IsOpen()) error = LastError();
  if (!file.IsOpen() || !StampOf(AsNative(file.Get()), opened) || !SameFile(opened, expected)) {
    return kInvalidHandle;
  }
  return AsNative(file.Release());
}

void CloseFile(NativeHandle handle) { CloseHandle(AsHandle(handle)); }

bool StampOf(NativeHandle handle, FileStamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO times{};
  if (!GetFileInformationByHandle(AsHandle(handle), &info)) return false;
  if (!GetFileInformationByHandleEx(AsHandle(handle), FileBasicInfo, &times, sizeof times)) {
    times.ChangeTime.QuadPart = 0;
  }
  stamp = ToStamp(info, times.ChangeTime.QuadPart);
  return true;
}

bool StampOf(const std::string& path, FileStamp& stamp) {
  const ScopedHandle file(OpenExisting(WideText(path), 0, kShareAll,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  return file.IsOpen() && StampOf(AsNative(file.Get()), stamp);
}

std::int64_t ReadSome(NativeHandle handle, char* buffer, std::size_t capacity, ErrorCode& error) {
  DWORD got = 0;
  if (ReadFile(AsHandle(handle), buffer, RequestSize(capacity), &got, nullptr)) return got;
  const DWORD code = GetLastError();
  if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
  error = static_cast<ErrorCode>(code);
  return -1;
}

std::int64_t WriteSome(NativeHandle handle, const char* data, std::size_t count, ErrorCode& error) {
  DWORD put = 0;
  if (WriteFile(AsHandle(handle), data, RequestSize(count), &put, nullptr)) return put;
  error = LastError();
  return -1;
}

std::uint64_t NextData(NativeHandle /*handle*/, std::uint64_t offset, std::uint64_t /*end*/) {
  return offset;
}

void StartWriteback(NativeHandle /*handle*/, std::uint64_t /*offset*/, std::uint64_t /*length*/) {}

ErrorCode FinishWriteback(NativeHandle /*handle*/, std::uint64_t /*offset*/,
                          std::uint64_t /*length*/) {
  return 0;
}

ErrorCode SyncFile(NativeHandle handle) {
  return FlushFileBuffers(AsHandle(handle)) ? 0 : LastError();
}

// Nothing runs beside camfix's own thread here, so nothing asks for room.
std::uint64_t FreeSpace(NativeHandle /*handle*/) { return 0; }

}  // namespace platform::sys
