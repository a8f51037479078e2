#include "platform/file_replacement.h"

#include <utility>

#include <windows.h>

#include "platform/file_system.h"
#include "platform/interruptions.h"
#include "platform/wide_text_win32.h"

namespace platform {

namespace {

ErrorCode LastError() { return static_cast<ErrorCode>(GetLastError()); }

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

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

// A temporary file beside the original, put in its place by ReplaceFileW,
// which keeps what a rename would lose: Windows never rewrites in place.
// Refused: read-only, hidden and system files, by the open file's own
// attributes. A file that others hold open without letting it be renamed
// fails the replace at the end, which then leaves it as it was.
class WindowsReplacement : public FileReplacement {
 public:
  WindowsReplacement(const std::string& path, const InputFile& original,
                     const std::function<void()>& before_naming);
  ~WindowsReplacement() override { Discard(); }
  WindowsReplacement(const WindowsReplacement&) = delete;
  WindowsReplacement& operator=(const WindowsReplacement&) = delete;

  // Never: the file's name always gets a new file.
  bool InPlace() const override { return false; }
  void Write(const char* data, std::size_t count) override;
  void StartFlush(Background& flushes) override { platform::StartFlush(content_, flushes); }
  CommitResult Commit() override;

 private:
  void Create(const std::wstring& folder);
  void Discard();
  CommitResult MoveIntoPlace();

  std::string temp_name_;  // registered for removal on an interruption
  NewContent content_;
};

WindowsReplacement::WindowsReplacement(const std::string& path, const InputFile& original,
                                       const std::function<void()>& before_naming)
    : content_{path, original} {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(AsHandle(original.Handle()), &info)) {
    content_.begin_error = LastError();
  } else if ((info.dwFileAttributes & kUnreplaceable) != 0) {
    content_.begin_error = ERROR_ACCESS_DENIED;
  } else {
    before_naming();  // the temporary file always has a name: ReplaceFileW takes names
    Create(FolderOf(WideText(path)));
  }
}

// The file is made and registered while interruptions wait, so none can leave
// it behind; it is shared for deletion, so that an interruption can remove it
// while it is open. One that cannot be opened again goes at once, and the
// failure names it.
void WindowsReplacement::Create(const std::wstring& folder) {
  const InterruptionsHeld held;
  std::wstring temp;
  if (!MakeTempFile(folder, temp)) {
    content_.begin_error = LastError();
    return;
  }
  const HANDLE handle =
      CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    content_.begin_error = LastError();
    DeleteFileW(temp.c_str());
    content_.failed_place = Utf8Text(temp);
    return;
  }
  content_.temp = reinterpret_cast<NativeHandle>(handle);
  temp_name_ = Utf8Text(temp);
  RemoveOnInterruption(temp_name_);
}

void WindowsReplacement::Discard() {
  content_.flush.Wait();  // the file is in use there
  if (IsOpen(content_)) CloseHandle(AsHandle(content_.temp));
  content_.temp = kInvalidHandle;
  if (temp_name_.empty()) return;
  DeleteFileW(WideText(temp_name_).c_str());
  temp_name_.clear();
  RemoveOnInterruption({});
}

void WindowsReplacement::Write(const char* data, std::size_t count) {
  if (!IsOpen(content_) || content_.write_error != 0) return;
  while (count > 0) {
    const auto put = sys::WriteSome(content_.temp, data, count, content_.write_error);
    if (put == 0) content_.write_error = ERROR_DISK_FULL;
    if (put <= 0) return;
    data += put;
    count -= static_cast<std::size_t>(put);
  }
}

CommitResult WindowsReplacement::Commit() {
  if (auto unready = Unready(content_)) return *unready;
  return MoveIntoPlace();
}

// The commit has just found `content_.path` leading to the file (Unready), and only
// the close of the temporary file comes between: a second look by name would
// cost every file another open.
CommitResult WindowsReplacement::MoveIntoPlace() {
  using Outcome = CommitResult::Outcome;
  const bool closed = CloseHandle(AsHandle(std::exchange(content_.temp, kInvalidHandle))) != 0;
  if (!closed) return Result(content_, Outcome::kRefused, LastError());
  const std::wstring replacement = WideText(temp_name_);
  const std::wstring target = WideText(content_.path);
  ErrorCode error = ReplaceKeepingIdentity(target, replacement);
  if (IsUnsupported(error)) error = MoveOver(target, replacement);
  if (error != 0) return Result(content_, Outcome::kRefused, error);
  temp_name_.clear();
  RemoveOnInterruption({});
  return Result(content_, Outcome::kRenamed);
}

class WindowsReplacer : public FileReplacer {
 public:
  std::unique_ptr<FileReplacement> Begin(const std::string& path, const InputFile& original,
                                         const std::function<void()>& before_naming) override {
    return std::make_unique<WindowsReplacement>(path, original, before_naming);
  }
  // Windows has no call that makes a folder's entries durable; NTFS logs
  // them, and a plain rename over the name is written through.
  ErrorCode FlushFolderOf(const std::string& /*path*/) override { return 0; }
};

}  // namespace

FileReplacer& SystemReplacer() {
  static WindowsReplacer replacer;
  return replacer;
}

}  // namespace platform
