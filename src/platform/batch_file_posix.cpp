#include "platform/batch_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/code_page.h"
#include "platform/console_io.h"
#include "platform/directory.h"

namespace platform {

namespace {

// The descriptor the shell reads the script from, and closes before the
// script runs (the 9 of the command in Start).
constexpr int kScriptFd = 9;

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

// One spelling of the batch file, opened once: what is checked and what the
// shell reads are the same file, whatever the name holds meanwhile.
class OpenScript {
 public:
  // A link, a FIFO, a device or a name that cannot be opened is no script.
  explicit OpenScript(const std::string& name)
      : fd_(open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
    if (fd_ >= 0 && (fstat(fd_, &info_) != 0 || !S_ISREG(info_.st_mode))) Close();
  }
  ~OpenScript() { Close(); }
  OpenScript(const OpenScript&) = delete;
  OpenScript& operator=(const OpenScript&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  uid_t Owner() const { return info_.st_uid; }
  // Another user could have put their commands in it.
  bool EveryoneMayWrite() const { return (info_.st_mode & S_IWOTH) != 0; }
  bool OwnedByRunnerOrRoot() const { return info_.st_uid == geteuid() || info_.st_uid == 0; }

 private:
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  int fd_;
  struct stat info_ {};
};

// The regular files of the working folder named `name` in any letter case,
// in byte order: names that differ only in case tie when letter case is
// ignored.
std::vector<std::string> SpellingsOf(const char* name) {
  std::vector<DirectoryEntry> entries;
  std::vector<std::string> spellings;
  ListWorkingFolder(name, entries);
  for (const auto& entry : entries) {
    if (entry.kind == EntryKind::kFile) spellings.push_back(entry.name);
  }
  std::sort(spellings.begin(), spellings.end());
  return spellings;
}

// The owner's user name, or "uid N" where the system knows none.
std::string UserName(uid_t uid) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return ConsoleText(found->pw_name);
  }
  return "uid " + std::to_string(uid);
}

// One line on standard error; standard output keeps its bytes.
void SayRefused(const std::string& name, const OpenScript& script) {
  const std::string reason = script.OwnedByRunnerOrRoot()
                                 ? "everyone may write it (owner " + UserName(script.Owner()) + ")"
                                 : "its owner is " + UserName(script.Owner()) + ", not you or root";
  const std::string line = "camfix: " + name + " was not started: " + reason + "\r\n";
  WriteConsoleBytes(StandardErrorHandle(), line.data(), static_cast<std::uint32_t>(line.size()));
}

// Starts `script` detached in a session of its own, with the signals camfix
// ignores back at their defaults, input from the null device and output kept
// only where it is a terminal. The shell started here puts it in the
// background and ends at once, so it is nobody's zombie, and spawning borrows
// the process instead of copying it, however much memory camfix holds.
void Start(const std::string& name, const OpenScript& script) {
  SpawnSetup setup;
  // First, as the script may have taken the number of a closed standard handle.
  posix_spawn_file_actions_adddup2(setup.Actions(), script.Fd(), kScriptFd);
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
  // With the batch file's name as $0, a background subshell reads the script
  // from the descriptor camfix checked, line by line, drops the CR that ends
  // a line, closes the descriptor and runs the text; a last line without LF
  // is kept as it is.
  char command[] =
      "(camfix_script=; "
      "while IFS= read -r camfix_line; do camfix_script=\"$camfix_script${camfix_line%\r}\n\"; "
      "done <&9; exec 9<&-; "
      "eval \"$camfix_script$camfix_line\") &";
  std::string zero = name;
  char* const arguments[] = {shell_name, command_option, command, zero.data(), nullptr};
  pid_t shell = 0;
  if (posix_spawn(&shell, "/bin/sh", setup.Actions(), setup.Attributes(), arguments, environ) !=
      0) {
    return;
  }
  int status = 0;
  while (waitpid(shell, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

// Only a script that no other user could have written is run: one owned by
// the user camfix runs as, or by root, that not everyone may write.
void LaunchBatchFile(const char* file) {
  for (const auto& name : SpellingsOf(file)) {
    const OpenScript script(name);
    if (!script.IsOpen()) continue;
    if (script.OwnedByRunnerOrRoot() && !script.EveryoneMayWrite()) return Start(name, script);
    SayRefused(name, script);
  }
}

}  // namespace platform
