#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line: `camfix [FOLDER]`, `camfix -h` or `--help` (also `/?` on
// Windows), or `camfix --version`.

// Acts on the arguments after the program's name. With none, or with a
// FOLDER that it has made the working folder, it returns nothing: the
// dialogue is to run. Otherwise it returns the exit code after it has written
// the usage text (0) or the version (0) to standard output, or the usage text
// and a one-line reason to standard error (2) for anything else: an unknown
// option, more than one argument, or a FOLDER that cannot be entered (on a
// console window of camfix's own, it then waits for Enter). Nothing else is
// read or written. A failure on standard output raises EInOutError.
std::optional<int> FollowCommandLine(const std::vector<std::string>& arguments);
