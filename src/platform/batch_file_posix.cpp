#include "platform/batch_file.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/directory.h"

namespace platform {

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

// The regular file of the working folder named `name` in any letter case;
// empty when there is none. Names that differ only in case tie when letter
// case is ignored, so of several the first in byte order is taken.
std::string FindInAnyCase(const char* name) {
  std::vector<DirectoryEntry> entries;
  std::string found;
  ListWorkingFolder(name, entries);
  for (const auto& entry : entries) {
    if (entry.kind == EntryKind::kFile && (found.empty() || entry.name < found)) found = entry.name;
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

}  // namespace platform
