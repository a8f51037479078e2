#include "console/fatal_report.h"
#include "console/main_sequence.h"
#include "platform/process.h"

int main() {
  platform::MarkConsoleProgram();
  CatchUnhandledError(RunMainSequence);
}
