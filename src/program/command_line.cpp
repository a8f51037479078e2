#include "program/command_line.h"

#include <cstdint>
#include <span>

#include "console/console_streams.h"
#include "platform/arguments.h"
#include "platform/code_page.h"
#include "platform/console_io.h"
#include "program/own_window.h"

namespace {

constexpr int kRefused = 2;

// CAMFIX_VERSION is the project's version, handed in by the build.
constexpr const char* kVersion[] = {"camfix " CAMFIX_VERSION};

// clang-format off
constexpr const char* kUsage[] = {
    "Usage: camfix [FOLDER]",
    "Repairs the CAM files in FOLDER, or else in the working folder, and then",
    "starts gerber.bat there: FSL for FSD in the Gerber files (*.g*), and an",
    "INCH,LZ header with the tools of the drill report (*.inf) in the drill",
    "files (*.drl) that declare no format of their own.",
    "  -h, --help  show this text (/? too on Windows)",
    "  --version   show the version",
};
// clang-format on

int Show(std::span<const char* const> lines) {
  for (const char* line : lines) {
    WriteLine(line);
    CheckConsoleError();
  }
  return 0;
}

// Standard error takes the text as the fatal report does: in the console's
// code page, and a failed write is not reported anywhere.
int Refuse(const std::string& reason) {
  std::string text;
  for (const char* line : kUsage) text.append(line).append("\r\n");
  text.append("camfix: ").append(reason).append("\r\n");
  platform::ConvertToOem(text.data());
  platform::WriteConsoleBytes(platform::StandardErrorHandle(), text.data(),
                              static_cast<std::uint32_t>(text.size()));
  WaitBeforeClosing(platform::OwnConsoleWindow());
  return kRefused;
}

std::string Quoted(const std::string& argument) {
  std::string quoted(1, '"');
  quoted.append(platform::ConsoleText(argument)).append(1, '"');
  return quoted;
}

bool AsksForHelp(const std::string& argument) {
  return argument == "-h" || argument == "--help" ||
         (argument == "/?" && platform::SlashQuestionMarkAsksForHelp());
}

}  // namespace

std::optional<int> FollowCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return std::nullopt;
  if (arguments.size() > 1) return Refuse("too many arguments (one folder at most)");
  const std::string& argument = arguments.front();
  if (AsksForHelp(argument)) return Show(kUsage);
  if (argument == "--version") return Show(kVersion);
  if (argument.starts_with('-')) return Refuse("unknown option " + Quoted(argument));
  if (!platform::EnterFolder(argument)) {
    return Refuse("cannot enter the folder " + Quoted(argument));
  }
  return std::nullopt;
}
