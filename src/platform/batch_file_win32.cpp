#include "platform/batch_file.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/directory.h"
#include "platform/wide_text_win32.h"

namespace platform {

// Only the working folder's own file, named by its full path: a bare name
// would let the shell take one from the program's folder or from PATH. With
// no such file nothing runs, and no error box can show.
void LaunchBatchFile(const char* file) {
  const std::wstring folder = WideText(WorkingFolder());
  std::wstring path = folder;
  if (!path.ends_with(L'\\')) path += L'\\';
  path += WideText(file);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  ShellExecuteW(nullptr, L"open", path.c_str(), L"", folder.c_str(), SW_SHOW);
}

}  // namespace platform
