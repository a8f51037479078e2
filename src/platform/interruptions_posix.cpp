#include "platform/interruptions.h"

#include <csignal>
#include <unistd.h>

namespace platform::interruptions {

namespace {

// The signals that end the process unless caught, the real-time range
// included. Left to their defaults: what the program raises against itself
// (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP, SIGABRT), where removing
// the staged copy in the middle of an overwrite would lose the only whole
// one. SIGPIPE and SIGXFSZ are ignored from the start.
constexpr int kEndingSignals[] = {SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,  SIGALRM,
                                  SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSTKFLT};

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
  return set;
}

extern "C" void RemoveAndEnd(int signal) {
  RemoveNamedFile();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void InstallHandler() {
  struct sigaction action {};
  action.sa_handler = RemoveAndEnd;
  sigemptyset(&action.sa_mask);
  const sigset_t set = EndingSignals();
  for (int signal = 1; signal <= SIGRTMAX; ++signal) {
    if (sigismember(&set, signal) == 1) sigaction(signal, &action, nullptr);
  }
}

void Hold() {
  const sigset_t set = EndingSignals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void Release() {
  const sigset_t set = EndingSignals();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void RemoveFileNow(const char* name) { unlink(name); }

}  // namespace platform::interruptions
