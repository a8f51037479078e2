#include "platform/interruptions.h"

#include <csignal>
#include <unistd.h>

namespace platform::interruptions {

namespace {

// The signals that end the process unless caught, the real-time range
// included. SIGPIPE and SIGXFSZ are ignored from the start.
constexpr int kEndingSignals[] = {SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,  SIGALRM,
                                  SIGVTALRM, SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGSTKFLT};
// What a fault of the program raises against itself keeps its default, as
// removing the staged copy in the middle of an overwrite would lose the only
// whole one, but is held back too: the same signals sent from outside wait
// for the hold's end. A real fault is synchronous, and the system ends the
// process at once, held or not.
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGSYS, SIGTRAP, SIGABRT};

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kEndingSignals) sigaddset(&set, signal);
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) sigaddset(&set, signal);
  return set;
}

sigset_t HeldSignals() {
  sigset_t set = EndingSignals();
  for (int signal : kFaultSignals) sigaddset(&set, signal);
  return set;
}

extern "C" void RemoveAndEnd(int signal) {
  RemoveNamedFile();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// A signal ignored when camfix started (nohup's hang-up, Ctrl+C for a
// shell's background job) stays ignored, as the shell that started it means.
bool IgnoredAtStart(int signal) {
  struct sigaction current {};
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

void InstallHandler() {
  struct sigaction action {};
  action.sa_handler = RemoveAndEnd;
  sigemptyset(&action.sa_mask);
  const sigset_t set = EndingSignals();
  for (int signal = 1; signal <= SIGRTMAX; ++signal) {
    if (sigismember(&set, signal) == 1 && !IgnoredAtStart(signal)) {
      sigaction(signal, &action, nullptr);
    }
  }
}

void Hold() {
  const sigset_t set = HeldSignals();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void Release() {
  const sigset_t set = HeldSignals();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void RemoveFileNow(const char* name) { unlink(name); }

}  // namespace platform::interruptions
