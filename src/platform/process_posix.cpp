#include "platform/process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/code_page.h"

namespace platform {

void MarkConsoleProgram() {
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return {argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0)};
}

bool EnterFolder(const std::string& folder) { return chdir(folder.c_str()) == 0; }

bool SlashQuestionMarkAsksForHelp() { return false; }

namespace {

// The attributes and file actions of one posix_spawn, released on destruction.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t* Actions() { return &actions_; }
  posix_spawnattr_t* Attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
};

struct CloseFolder {
  void operator()(DIR* folder) const { closedir(folder); }
};

// The regular file of the working folder named `name` in any letter case;
// empty when there is none. Names that differ only in case tie when letter
// case is ignored, so of several the first in byte order is taken.
std::string FindInAnyCase(const char* name) {
  std::string found;
  const std::unique_ptr<DIR, CloseFolder> folder(opendir("."));
  if (folder == nullptr) return found;
  while (const dirent* entry = readdir(folder.get())) {
    struct stat info {};
    if (strcasecmp(entry->d_name, name) == 0 &&
        (found.empty() || std::strcmp(entry->d_name, found.c_str()) < 0) &&
        stat(entry->d_name, &info) == 0 && S_ISREG(info.st_mode)) {
      found = entry->d_name;
    }
  }
  return found;
}

}  // namespace

// The batch file runs detached in a session of its own, with the signals
// camfix ignores back at their defaults, input from the null device and output
// kept only where it is a terminal. The shell started here puts it in the
// background and ends at once, so it is nobody's zombie, and spawning borrows
// the process instead of copying it, however much memory camfix holds.
void LaunchBatchFile(const char* file) {
  std::string batch_file = FindInAnyCase(file);
  if (batch_file.empty()) return;
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(setup.Actions(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (isatty(fd) == 0)
      posix_spawn_file_actions_addopen(setup.Actions(), fd, "/dev/null", O_WRONLY, 0);
  }
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGXFSZ);
  posix_spawnattr_setsigdefault(setup.Attributes(), &defaults);
  posix_spawnattr_setflags(setup.Attributes(), POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF);
  char shell_name[] = "sh";
  char command_option[] = "-c";
  // With the batch file's name as $0, a background subshell reads the file
  // line by line, drops the CR that ends a line, and runs the text; a last
  // line without LF is kept as it is.
  char command[] =
      "(camfix_script=; "
      "while IFS= read -r camfix_line; do camfix_script=\"$camfix_script${camfix_line%\r}\n\"; "
      "done < \"$0\"; "
      "eval \"$camfix_script$camfix_line\") &";
  char* const arguments[] = {shell_name, command_option, command, batch_file.data(), nullptr};
  pid_t shell = 0;
  if (posix_spawn(&shell, "/bin/sh", setup.Actions(), setup.Attributes(), arguments, environ) !=
      0) {
    return;
  }
  int status = 0;
  while (waitpid(shell, &status, 0) < 0 && errno == EINTR) {
  }
}

void ExitProcess(int code) { _exit(code); }

// The program itself is named by its file, not by the name it was started
// under; shared libraries by their paths.
bool LocateModule(std::uintptr_t address, char* path, std::size_t capacity, std::uintptr_t& base) {
  Dl_info info{};
  Dl_info program{};
  if (address == 0 || dladdr(reinterpret_cast<void*>(address), &info) == 0) return false;
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return false;
  base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  if (dladdr(reinterpret_cast<void*>(&ProgramFileName), &program) != 0 &&
      program.dli_fbase == info.dli_fbase) {
    ProgramFileName(path, capacity);
    return true;
  }
  std::strncpy(path, info.dli_fname, capacity - 1);
  path[capacity - 1] = '\0';
  return true;
}

void ProgramFileName(char* path, std::size_t capacity) {
  const ssize_t length = readlink("/proc/self/exe", path, capacity - 1);
  path[length > 0 ? length : 0] = '\0';
}

const char* FileNameOf(const char* path) { return FileNameAfter(path, "/", kNoLeadBytes); }

}  // namespace platform
