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

bool IsDriveLetter(char letter) {
  return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

// Explorer passes a drive's root as "K:\", and the backslash before the
// closing quote makes the argument K:" (no name holds a quote): that exact
// shape is the root of the drive.
std::string DriveRootOr(const std::string& folder) {
  const bool drive_root =
      folder.size() == 3 && IsDriveLetter(folder[0]) && folder[1] == ':' && folder[2] == '"';
  return drive_root ? folder.substr(0, 2) + '\\' : folder;
}

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
  return !folder.empty() && SetCurrentDirectoryW(WideText(DriveRootOr(folder)).c_str()) != 0;
}

bool SlashQuestionMarkAsksForHelp() { return true; }

}  // namespace platform
