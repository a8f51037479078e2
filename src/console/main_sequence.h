#pragma once

// The program's whole dialogue: banner and prompt, the operator's answer, the
// repair, the launch of gerber.bat, and the end.

// Runs the dialogue and ends the process; does not return.
[[noreturn]] void RunMainSequence();

// The orderly end: the fatal report goes out of service, held output is
// handed to the platform, and the process ends with `exit_code`.
[[noreturn]] void NormalExit(int exit_code);

// The quick end after the answer q: held output is handed to the platform and
// nothing else runs.
[[noreturn]] void ImmediateExit(int exit_code);
