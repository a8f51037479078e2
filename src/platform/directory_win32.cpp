#include "platform/directory.h"

#include <iterator>

#include <windows.h>

#include "platform/handle_win32.h"
#include "platform/wide_text_win32.h"

namespace platform {

namespace {

// An open FindFirstFileW search, closed on destruction.
class FindHandle {
 public:
  FindHandle(const std::wstring& pattern, WIN32_FIND_DATAW& data)
      : handle_(FindFirstFileW(pattern.c_str(), &data)) {}
  ~FindHandle() {
    if (IsOpen()) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;

  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  bool Next(WIN32_FIND_DATAW& data) { return FindNextFileW(handle_, &data) != 0; }

 private:
  HANDLE handle_;
};

// A handle for no access at all, which reads nothing, blocks on nothing and
// meets no sharing conflict; it follows links.
HANDLE OpenForNoAccess(const std::wstring& name) {
  return CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// What the platform tells of an entry; `tag` is the kind of reparse point.
struct Facts {
  DWORD attributes = 0;
  std::uint64_t size = 0;
  FILETIME write_time{};
  DWORD tag = 0;
};

std::uint64_t Joined(DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; }

bool ToLocalDosStamp(const FILETIME& utc, std::uint32_t& stamp) {
  FILETIME local{};
  SYSTEMTIME time{};
  return FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &time) &&
         ToDosStamp(time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond,
                    stamp);
}

// A name that the platform takes for a device (CON, NUL, COM1 ... with any
// extension before Windows 11) resolves to "\\.\NAME".
bool NamesDevice(const std::wstring& name) {
  wchar_t full[16] = {};  // room for the longest, "\\.\CONOUT$"
  const DWORD length = GetFullPathNameW(name.c_str(), std::size(full), full, nullptr);
  return length < std::size(full) && std::wstring_view(full, length).starts_with(LR"(\\.\)");
}

// Under wine, a FIFO, socket or device node of the host lists as an empty
// file: opened, it is no disk file, or (a socket) it cannot be opened or
// described at all. A name gone meanwhile is left for the load to report.
bool IsHostSpecial(const std::wstring& name) {
  const ScopedHandle probe(OpenForNoAccess(name));
  if (probe.IsOpen()) return GetFileType(probe.Get()) != FILE_TYPE_DISK;
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return false;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data) == 0;
}

// A symbolic link or junction is a link; a cloud placeholder, also a reparse
// point, is the file itself.
EntryKind KindOf(const std::wstring& name, const Facts& facts) {
  if ((facts.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
      IsReparseTagNameSurrogate(facts.tag)) {
    return EntryKind::kLink;
  }
  if ((facts.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kFolder;
  if (NamesDevice(name)) return EntryKind::kOther;
  if (facts.size == 0 && IsHostSpecial(name)) return EntryKind::kOther;
  return EntryKind::kFile;
}

// A name that begins with a dot (.gitattributes, .gitignore) is hidden, as on
// POSIX: such files are never CAM output, though Windows shows them.
DirectoryEntry Describe(const std::wstring& name, const Facts& facts) {
  DirectoryEntry entry;
  entry.name = Utf8Text(name);
  entry.size = facts.size;
  entry.attributes = facts.attributes | (name.starts_with(L'.') ? FILE_ATTRIBUTE_HIDDEN : 0);
  entry.kind = KindOf(name, facts);
  entry.dated = ToLocalDosStamp(facts.write_time, entry.dos_stamp);
  return entry;
}

DirectoryEntry EntryOf(const WIN32_FIND_DATAW& data) {
  return Describe(data.cFileName,
                  {data.dwFileAttributes, Joined(data.nFileSizeHigh, data.nFileSizeLow),
                   data.ftLastWriteTime, data.dwReserved0});
}

bool IsDotEntry(const wchar_t* name) {
  return std::wstring_view(name) == L"." || std::wstring_view(name) == L"..";
}

}  // namespace

// FindFirstFileW matches the 8.3 short names as well: "*.drl" selects
// board.drl2 through BOARD~1.DRL.
ErrorCode ListWorkingFolder(const std::string& pattern, std::vector<DirectoryEntry>& entries) {
  WIN32_FIND_DATAW data{};
  FindHandle search(WideText(pattern), data);
  if (!search.IsOpen()) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES
               ? 0
               : static_cast<ErrorCode>(error);
  }
  do {
    if (!IsDotEntry(data.cFileName)) entries.push_back(EntryOf(data));
  } while (search.Next(data));
  const DWORD end = GetLastError();
  return end == ERROR_NO_MORE_FILES ? 0 : static_cast<ErrorCode>(end);
}

bool LookUpEntry(const std::string& path, DirectoryEntry& entry) {
  WIN32_FIND_DATAW data{};
  const FindHandle search(WideText(path), data);
  if (!search.IsOpen()) return false;
  entry = EntryOf(data);
  entry.name = path.substr(path.find_last_of("\\/") + 1);
  return true;
}

std::string WorkingFolder() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring folder(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, folder.data());
  if (length == 0 || length >= size) return ".";
  folder.resize(length);
  return Utf8Text(folder);
}

}  // namespace platform
