#include "program/main_sequence.h"

#include "console/console_streams.h"
#include "platform/arguments.h"
#include "platform/background.h"
#include "platform/batch_file.h"
#include "platform/console_io.h"
#include "platform/process.h"
#include "program/command_line.h"
#include "program/own_window.h"
#include "repair/repair_run.h"

namespace {

// clang-format off
constexpr const char* kBanner[] = {
    "Plendor CAM Fix by Ivesmarch",
    "mail: camfix@ivesmarch.example",
    "https://ivesmarch.example/camfix",
    "",
    "Press any key to procced.",
};
// clang-format on

[[noreturn]] void RunDialogue() {
  ShowFolderToRepair(platform::OwnConsoleWindow());
  for (const char* line : kBanner) {
    WriteLine(line);
    CheckConsoleError();
  }
  const char key_char = ReadKeyChar();
  DiscardLine();
  CheckConsoleError();
  WriteChar(key_char);
  WriteLineEnd();
  CheckConsoleError();

  {
    // The replaced files' blocks are freed meanwhile, at the latest while
    // the user reads the end; the process does not end before.
    platform::Background releases;
    RunCamRepair(releases);

    platform::LaunchBatchFile("gerber.bat");
    if (key_char != 'q') {
      DiscardLine();
      CheckConsoleError();
    }
  }
  NormalExit(0);
}

}  // namespace

void RunMainSequence(int argc, char** argv) {
  if (const auto exit_code = FollowCommandLine(platform::ProgramArguments(argc, argv))) {
    NormalExit(*exit_code);
  }
  RunDialogue();
}

void NormalExit(int exit_code) {
  CloseConsoleStreams();
  CheckConsoleError();
  platform::ExitProcess(exit_code);
}
