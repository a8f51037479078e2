#include "console/main_sequence.h"

#include "console/console_streams.h"
#include "console/fatal_report.h"
#include "platform/process.h"
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

}  // namespace

void RunMainSequence() {
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

  RunCamRepair();

  platform::LaunchBatchFile("gerber.bat");
  if (key_char == 'q') ImmediateExit(0);
  DiscardLine();
  CheckConsoleError();
  NormalExit(0);
}

void NormalExit(int exit_code) {
  TakeFatalReportOutOfService();
  CloseConsoleStreams();
  platform::ExitProcess(exit_code);
}

void ImmediateExit(int exit_code) {
  FlushOutput();
  platform::ExitProcess(exit_code);
}
