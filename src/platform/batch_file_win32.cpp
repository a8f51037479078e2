#include "platform/batch_file.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/wide_text_win32.h"

namespace platform {

void LaunchBatchFile(const char* file) {
  ShellExecuteW(nullptr, L"open", WideText(file).c_str(), L"", L"", SW_SHOW);
}

}  // namespace platform
