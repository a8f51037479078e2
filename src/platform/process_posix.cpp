#include "platform/process.h"

#include <csignal>
#include <unistd.h>

namespace platform {

void MarkConsoleProgram() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

void ExitProcess(int code) { _exit(code); }

}  // namespace platform
