#pragma once

namespace platform {

// The process's start and end.

// Makes the process a console program before anything else runs: failures
// are reported as text, never in a window, and console writes that fail come
// back as error codes instead of ending the process.
void MarkConsoleProgram();

// Ends the process with `code` at once.
[[noreturn]] void ExitProcess(int code);

}  // namespace platform
