#include "platform/arguments.h"

#include <memory>

#include <windows.h>
#include <shellapi.h>

#include "platform/wide_text_win32.h"

namespace platform {

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

}  // namespace platform
