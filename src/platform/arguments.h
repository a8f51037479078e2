#pragma once

#include <string>
#include <vector>

namespace platform {

// The program's arguments and the folder they name.

// The arguments after the program's name, as the platform spells names:
// bytes on POSIX; UTF-8 on Windows, taken from the wide command line so that
// no character is lost to the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes `folder`, spelled as ProgramArguments gives it, the working folder
// (on Windows K:" too, which is how Explorer's "K:\" arrives: the drive's root);
// false, with nothing changed, when it names no folder that can be entered.
bool EnterFolder(const std::string& folder);

// Whether "/?" asks for help, as it does on Windows.
bool SlashQuestionMarkAsksForHelp();

}  // namespace platform
