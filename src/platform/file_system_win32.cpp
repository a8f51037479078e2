#include "platform/file_system.h"

#include <algorithm>
#include <iterator>

#include <windows.h>

#include "platform/handle_win32.h"
#include "platform/interruptions.h"
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

const ErrorCode kNoRoom = ERROR_DISK_FULL;

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

// The folder part of `path` with its separator, "." for a bare name.
std::wstring FolderOf(const std::wstring& path) {
  const auto separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? L"." : path.substr(0, separator + 1);
}

// A new empty file cfxXXXX.tmp in `folder`: a short name already, so neither
// its long nor its short name matches "*.g*", "*.inf" or "*.drl".
bool MakeTempFile(const std::wstring& folder, std::wstring& name) {
  wchar_t temp[MAX_PATH] = {};
  if (GetTempFileNameW(folder.c_str(), L"cfx", 0, temp) == 0) return false;
  name = temp;
  return true;
}

// Attributes for which the platform refuses to create a file anew.
constexpr DWORD kUnreplaceable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;

// ReplaceFileW gives the new file the old one's access rights, attributes,
// short name and streams, and fails rather than lose them. The old file goes
// to a reserved backup name on the way, so that no failure leaves `path`
// missing: where the new file could not take its place, the backup goes back.
ErrorCode ReplaceKeepingIdentity(const std::wstring& path, const std::wstring& replacement) {
  std::wstring backup;
  if (!MakeTempFile(FolderOf(path), backup)) return LastError();
  const ErrorCode error =
      ReplaceFileW(path.c_str(), replacement.c_str(), backup.c_str(), 0, nullptr, nullptr)
          ? 0
          : LastError();
  if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 &&
      !MoveFileExW(backup.c_str(), path.c_str(), 0)) {
    return error;  // the old content stays under the backup name
  }
  DeleteFileW(backup.c_str());
  return error;
}

// Codes of a volume that cannot do ReplaceFileW at all; both files keep
// their names then.
bool IsUnsupported(ErrorCode error) {
  return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
         error == ERROR_CALL_NOT_IMPLEMENTED;
}

// A plain rename over the name, for such a volume. The new file takes the
// attributes that survive a rewrite: archive, which a rewrite sets, and the
// indexing bit.
ErrorCode MoveOver(const std::wstring& path, const std::wstring& replacement) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesW(replacement.c_str(),
                       FILE_ATTRIBUTE_ARCHIVE | (attributes & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  }
  return MoveFileExW(replacement.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? 0
             : LastError();
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

// Windows always renames: ReplaceFileW keeps what a rename would lose.
// Refused: read-only, hidden and system files, by the open file's own
// attributes. A file that others hold open without letting it be renamed
// fails the replace at the end, which then leaves it as it was.
ErrorCode PlanReplacement(NativeHandle original, const std::string& /*path*/, ReplaceBy& how) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(AsHandle(original), &info)) return LastError();
  if ((info.dwFileAttributes & kUnreplaceable) != 0) return ERROR_ACCESS_DENIED;
  how = ReplaceBy::kRename;
  return 0;
}

// The temporary file always has a name: ReplaceFileW takes names.
NativeHandle CreateUnnamed(const std::string& /*path*/) { return kInvalidHandle; }

// The file is made and registered while interruptions wait, so none can
// leave it behind; it is shared for deletion, so that an interruption can
// remove it while it is open.
NativeHandle CreateTemporary(const std::string& path, ReplaceBy /*how*/, std::string& name,
                             ErrorCode& error) {
  name.clear();
  const InterruptionsHeld held;
  std::wstring temp;
  if (!MakeTempFile(FolderOf(WideText(path)), temp)) {
    error = LastError();
    return kInvalidHandle;
  }
  name = Utf8Text(temp);
  RemoveOnInterruption(name);
  const HANDLE handle = OpenExisting(temp, GENERIC_WRITE, FILE_SHARE_DELETE,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN);
  if (handle == INVALID_HANDLE_VALUE) error = LastError();
  return AsNative(handle);
}

// ReplaceFileW carries the owner, access rights and streams over.
ErrorCode CopyIdentity(NativeHandle /*original*/, NativeHandle /*temp*/) { return 0; }

bool IdentityCannotTravel(ErrorCode /*error*/) { return false; }

// The commit has just found `path` leading to `original` (FileReplacement::
// Unchanged), and only the close of the temporary file comes between: a
// second look by name would cost every file another open.
ErrorCode MoveIntoPlace(NativeHandle& temp, std::string& name, const std::string& path,
                        const FileStamp& /*original*/) {
  const bool closed = CloseHandle(AsHandle(temp)) != 0;
  temp = kInvalidHandle;
  if (!closed) return LastError();
  const std::wstring replacement = WideText(name);
  const std::wstring target = WideText(path);
  ErrorCode error = ReplaceKeepingIdentity(target, replacement);
  if (IsUnsupported(error)) error = MoveOver(target, replacement);
  if (error != 0) return error;
  name.clear();
  RemoveOnInterruption({});
  return 0;
}

// Windows never replaces in place: the temporary file always has a name.
ErrorCode NameStagedCopy(NativeHandle /*temp*/, std::string& /*name*/, const std::string& /*path*/,
                         std::string& /*staged*/) {
  return 0;
}

// Windows has no call that makes a folder's entries durable; NTFS logs them.
ErrorCode SyncFolderOf(const std::string& /*name*/) { return 0; }

ErrorCode OverwriteWith(NativeHandle /*staged*/, std::uint64_t /*size*/, NativeHandle /*original*/,
                        const std::string& /*path*/, bool& /*touched*/) {
  return ERROR_NOT_SUPPORTED;
}

void RemoveFile(const std::string& name) { DeleteFileW(WideText(name).c_str()); }

}  // namespace platform::sys
