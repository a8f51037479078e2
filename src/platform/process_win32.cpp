#include "platform/process.h"

#include <memory>

#include <windows.h>
#include <shellapi.h>

#include "platform/code_page.h"
#include "platform/wide_text_win32.h"

namespace platform {

void MarkConsoleProgram() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

namespace {

// CommandLineToArgvW's block goes back with LocalFree.
struct FreeLocal {
  void operator()(LPWSTR* block) const { LocalFree(block); }
};

}  // namespace

// The C runtime's argv went through the ANSI code page; the wide command
// line keeps every character.
std::vector<std::string> ProgramArguments(int /*argc*/, char** /*argv*/) {
  int count = 0;
  const std::unique_ptr<LPWSTR, FreeLocal> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> result;
  for (int index = 1; arguments != nullptr && index < count; ++index) {
    result.push_back(Utf8Text(arguments.get()[index]));
  }
  return result;
}

bool EnterFolder(const std::string& folder) {
  return !folder.empty() && SetCurrentDirectoryW(WideText(folder).c_str()) != 0;
}

bool SlashQuestionMarkAsksForHelp() { return true; }

void LaunchBatchFile(const char* file) {
  ShellExecuteW(nullptr, L"open", WideText(file).c_str(), L"", L"", SW_SHOW);
}

void ExitProcess(int code) { ::ExitProcess(static_cast<UINT>(code)); }

namespace {

// GetModuleFileNameA leaves a cut name unterminated on older systems.
bool ModuleFileName(HMODULE module, char* path, std::size_t capacity) {
  const DWORD length = GetModuleFileNameA(module, path, static_cast<DWORD>(capacity));
  path[length < capacity ? length : capacity - 1] = '\0';
  return length != 0;
}

}  // namespace

bool LocateModule(std::uintptr_t address, char* path, std::size_t capacity, std::uintptr_t& base) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0 ||
      info.State != MEM_COMMIT) {
    return false;
  }
  if (!ModuleFileName(static_cast<HMODULE>(info.AllocationBase), path, capacity)) return false;
  base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
  return true;
}

void ProgramFileName(char* path, std::size_t capacity) { ModuleFileName(nullptr, path, capacity); }

// Backslash or slash, never the second byte of a double-byte character.
const char* FileNameOf(const char* path) { return FileNameAfter(path, "\\/", SystemLeadBytes()); }

}  // namespace platform
