#include "console/fatal_report.h"
#include "console/main_sequence.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  platform::MarkConsoleProgram();
  CatchUnhandledError(RunMainSequence, argc, argv);
}
