#include "platform/process.h"
#include "program/fatal_report.h"
#include "program/main_sequence.h"

int main(int argc, char** argv) {
  platform::MarkConsoleProgram();
  CatchUnhandledError(RunMainSequence, argc, argv);
}
