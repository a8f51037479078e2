#pragma once

// The program's whole run: the command line, then the dialogue (banner and
// prompt, the operator's answer, the repair, the launch of gerber.bat), and
// the end.

// Follows the command line, runs the dialogue when it asks for one, and ends
// the process; does not return.
[[noreturn]] void RunMainSequence(int argc, char** argv);

// The orderly end: held output is handed to the platform and the process ends
// with `exit_code`. When that hand-over, or any console operation before it,
// has failed, EInOutError is raised instead, so no failure ends as success.
// The answer q ends this way too, only without waiting for another line: an
// end that dropped the held output would lose the tail of a redirected log.
[[noreturn]] void NormalExit(int exit_code);
