#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

void MarkConsoleProgram() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

namespace {

// In the detached child: input from the null device, output kept only where
// it is a terminal.
void DetachStandardHandles() {
  const int null_device = open("/dev/null", O_RDWR);
  if (null_device < 0) return;
  dup2(null_device, STDIN_FILENO);
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (isatty(fd) == 0) dup2(null_device, fd);
  }
  if (null_device > STDERR_FILENO) close(null_device);
}

}  // namespace

void LaunchBatchFile(const char* file) {
  struct stat info {};
  if (stat(file, &info) != 0 || !S_ISREG(info.st_mode)) return;
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    // The middle process ends at once, so the batch file is nobody's zombie.
    setsid();
    if (fork() == 0) {
      DetachStandardHandles();
      execl("/bin/sh", "sh", file, static_cast<char*>(nullptr));
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
}

void ExitProcess(int code) { _exit(code); }

bool LocateModule(std::uintptr_t address, char* path, std::size_t capacity, std::uintptr_t& base) {
  Dl_info info{};
  if (address == 0 || dladdr(reinterpret_cast<void*>(address), &info) == 0) return false;
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return false;
  std::strncpy(path, info.dli_fname, capacity - 1);
  path[capacity - 1] = '\0';
  base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  return true;
}

void ProgramFileName(char* path, std::size_t capacity) {
  const ssize_t length = readlink("/proc/self/exe", path, capacity - 1);
  path[length > 0 ? length : 0] = '\0';
}

const char* FileNameOf(const char* path) { return FileNameAfter(path, "/", kNoLeadBytes); }

void ConvertToOem(char* /*text*/) {}

const LeadByteSet& SystemLeadBytes() { return kNoLeadBytes; }

}  // namespace platform
