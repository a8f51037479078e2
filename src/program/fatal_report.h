#pragma once

#include <cstddef>
#include <cstdint>

class Exception;

// The one place where errors are handled: every error ends the program with
// one report on standard error and exit code 1, but memory exhausted at
// start-up, which writes one line to standard output and exits with 203.

// Composes the report on `error`, raised at `address`, into `report`: at most
// `capacity` - 1 bytes and a terminating zero. Returns the length. Allocates
// nothing. The form is:
//   Exception <class> in module <program file> at <8 hex digits>. CR LF
//   <message><"." unless it ends in one> CR LF
std::size_t ComposeFatalReport(const Exception& error, std::uintptr_t address, char* report,
                               std::size_t capacity);

// Hands held output to the platform, writes the report to standard error in
// the OEM code page followed by CR LF, waits for Enter on a console window of
// camfix's own, and ends the process with exit code 1.
// An error in the flush takes the place of `error`.
[[noreturn]] void ReportFatalError(const Exception& error);

// Runs the start-up and then `body`, the whole program, with the command line
// under the outermost error handler; should `body` return, the orderly end
// (NormalExit) follows with exit code 0.
[[noreturn]] void CatchUnhandledError(void (*body)(int argc, char** argv), int argc, char** argv);

// The line written when memory runs out during start-up, before the report can
// be made: "Runtime error 203 at 0040A1B2". Returns its length, 29.
std::size_t ComposeRuntimeError(int code, std::uintptr_t address, char (&line)[30]);
