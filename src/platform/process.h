#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Makes the process a console program before anything else runs: failures
// are reported as text, never in a window, and console writes that fail come
// back as error codes instead of ending the process.
void MarkConsoleProgram();

// The arguments after the program's name, as the platform spells names:
// bytes on POSIX; UTF-8 on Windows, taken from the wide command line so that
// no character is lost to the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes `folder`, spelled as ProgramArguments gives it, the working folder;
// false, with nothing changed, when it names no folder that can be entered.
bool EnterFolder(const std::string& folder);

// Whether "/?" asks for help, as it does on Windows.
bool SlashQuestionMarkAsksForHelp();

// Starts the batch file `file` from the working folder through the platform
// shell, without waiting for it; a missing file or a failed start is ignored.
// On POSIX the name is matched in any letter case (the first such name in
// byte order when there are several), and the script is run with the CR of
// each CR LF line end taken out.
void LaunchBatchFile(const char* file);

// Ends the process with `code` at once.
[[noreturn]] void ExitProcess(int code);

// The module that holds `address`: its full file name into `path` (at most
// `capacity` bytes with the terminator) and its load address. False when the
// address lies in no module.
bool LocateModule(std::uintptr_t address, char* path, std::size_t capacity, std::uintptr_t& base);

// The full file name of the program itself.
void ProgramFileName(char* path, std::size_t capacity);

// The part of `path` after its last directory separator. On Windows the path
// is read as characters of the ANSI code page, so the second byte of a
// double-byte character is never taken for a backslash.
const char* FileNameOf(const char* path);

}  // namespace platform
