#include "platform/process.h"

#include <windows.h>

namespace platform {

void MarkConsoleProgram() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

void ExitProcess(int code) { ::ExitProcess(static_cast<UINT>(code)); }

}  // namespace platform
