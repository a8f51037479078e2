#include "platform/batch_file.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
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

// An open descriptor, closed on destruction; -1 for none.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int Get() const { return fd_; }

 private:
  int fd_;
};

// The user camfix runs as: its effective user id and every group it is in.
class Runner {
 public:
  Runner() : groups_(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0))) {
    groups_.resize(static_cast<std::size_t>(
        std::max(getgroups(static_cast<int>(groups_.size()), groups_.data()), 0)));
    groups_.push_back(getegid());
  }

  uid_t Uid() const { return uid_; }
  bool IsTrusted(uid_t owner) const { return owner == uid_ || owner == 0; }
  bool IsIn(gid_t group) const {
    return std::find(groups_.begin(), groups_.end(), group) != groups_.end();
  }
  // The runner's user private group, as useradd makes one: the runner's
  // primary group, named as the runner, that lists no other member and is
  // no other user's primary group.
  bool IsPrivateGroup(gid_t gid) const {
    std::vector<char> user_buffer(16384), group_buffer(65536);
    passwd user{};
    passwd* user_found = nullptr;
    group entry{};
    group* group_found = nullptr;
    if (getpwuid_r(uid_, &user, user_buffer.data(), user_buffer.size(), &user_found) != 0 ||
        user_found == nullptr || user.pw_gid != gid ||
        getgrgid_r(gid, &entry, group_buffer.data(), group_buffer.size(), &group_found) != 0 ||
        group_found == nullptr || std::strcmp(entry.gr_name, user.pw_name) != 0) {
      return false;
    }
    for (char** member = entry.gr_mem; *member != nullptr; ++member) {
      if (std::strcmp(*member, user.pw_name) != 0) return false;
    }
    return !IsAnotherUsersPrimaryGroup(gid);
  }

 private:
  // Whether a user other than the runner has `gid` as primary group, or the
  // password database cannot be read to its end (within a bound).
  bool IsAnotherUsersPrimaryGroup(gid_t gid) const {
    constexpr int kMostUsers = 1'000'000;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    bool another = true;
    setpwent();
    for (int users = 0; users < kMostUsers; ++users) {
      const int error = getpwent_r(&entry, buffer.data(), buffer.size(), &found);
      if (error == ENOENT) another = false;
      if (error != 0 || (found->pw_gid == gid && found->pw_uid != uid_)) break;
    }
    endpwent();
    return another;
  }

  uid_t uid_ = geteuid();
  std::vector<gid_t> groups_;
};

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

// The group's name, or "gid N" where the system knows none.
std::string GroupName(gid_t gid) {
  std::vector<char> buffer(65536);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return ConsoleText(found->gr_name);
  }
  return "gid " + std::to_string(gid);
}

// A little-endian number of the bytes at `at`.
template <typename Number>
Number LittleEndian(const std::string& bytes, std::size_t at) {
  Number number = 0;
  for (std::size_t i = sizeof(Number); i-- > 0;) {
    number = static_cast<Number>((number << 8) | static_cast<unsigned char>(bytes[at + i]));
  }
  return number;
}

// Who besides the owner and the file's group may write the file `fd` by its
// access ACL (the system.posix_acl_access attribute: version 2, then 8-byte
// entries of tag, permissions and id, little-endian), or "" where only the
// runner or named groups `trusted_group` accepts may; `whose` names the file
// in the answer. An entry writes only where the mask lets it.
std::string AclProblem(int fd, uid_t runner, const std::function<bool(gid_t)>& trusted_group,
                       const std::string& whose) {
  constexpr const char* kAccessAcl = "system.posix_acl_access";
  constexpr std::uint16_t kUser = 0x02, kGroup = 0x08, kMask = 0x10, kWrite = 0x02;
  const ssize_t size = fgetxattr(fd, kAccessAcl, nullptr, 0);
  if (size < 0) return errno == ENODATA || errno == ENOTSUP ? "" : whose + " ACL cannot be read";
  std::string acl(static_cast<std::size_t>(size), '\0');
  if (fgetxattr(fd, kAccessAcl, acl.data(), acl.size()) != size || acl.size() < 4 ||
      acl.size() % 8 != 4 || LittleEndian<std::uint32_t>(acl, 0) != 2) {
    return whose + " ACL cannot be read";
  }
  std::uint16_t mask = kWrite;
  for (std::size_t at = 4; at < acl.size(); at += 8) {
    if (LittleEndian<std::uint16_t>(acl, at) == kMask)
      mask = LittleEndian<std::uint16_t>(acl, at + 2);
  }
  for (std::size_t at = 4; at < acl.size(); at += 8) {
    const auto tag = LittleEndian<std::uint16_t>(acl, at);
    const auto id = LittleEndian<std::uint32_t>(acl, at + 4);
    if ((LittleEndian<std::uint16_t>(acl, at + 2) & mask & kWrite) == 0) continue;
    if (tag == kUser && id != runner) return whose + " ACL lets " + UserName(id) + " write it";
    if (tag == kGroup && !trusted_group(id))
      return whose + " ACL lets group " + GroupName(id) + " write it";
  }
  return "";
}

// Why another user could rename or replace the runner's files in the working
// folder, or "" where no one could: a folder not the runner's or root's, or
// one that everyone or a group with other members (other than the runner's
// private group, which a umask of 002 gives its folders) may write but that
// is not sticky, or whose access ACL lets a named user other than the runner
// or a named group write it.
std::string FolderProblem(const Runner& runner) {
  struct stat folder {};
  const Descriptor fd(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0 || fstat(fd.Get(), &folder) != 0) return "the folder cannot be checked";
  if (!runner.IsTrusted(folder.st_uid)) {
    return "the folder's owner is " + UserName(folder.st_uid) + ", not you or root";
  }
  if ((folder.st_mode & S_ISVTX) != 0) return "";
  if ((folder.st_mode & S_IWOTH) != 0) return "everyone may write the folder, which is not sticky";
  if ((folder.st_mode & S_IWGRP) != 0 && !runner.IsPrivateGroup(folder.st_gid)) {
    return "group " + GroupName(folder.st_gid) + " may write the folder, which is not sticky";
  }
  return AclProblem(
      fd.Get(), runner.Uid(), [](gid_t) { return false; }, "the folder's");
}

// One spelling of the batch file, opened once: what is checked and what the
// shell reads are the same file, whatever the name holds meanwhile.
class OpenScript {
 public:
  // A link, a FIFO, a device or a name that cannot be opened is no script.
  explicit OpenScript(const std::string& name)
      : fd_(open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)),
        is_script_(fd_.Get() >= 0 && fstat(fd_.Get(), &info_) == 0 && S_ISREG(info_.st_mode)) {}

  bool IsOpen() const { return is_script_; }
  int Fd() const { return fd_.Get(); }

  // Why another user could have put their commands in it, or "" where no
  // one but the runner, root or a group the runner is in could have: a file
  // of another owner, one that everyone may write, one with another name
  // elsewhere, one that a group the runner is not in may write, by its mode
  // or its ACL.
  std::string Problem(const Runner& runner) const {
    if (!runner.IsTrusted(info_.st_uid)) {
      return "its owner is " + UserName(info_.st_uid) + ", not you or root";
    }
    std::string problem;
    if ((info_.st_mode & S_IWOTH) != 0) {
      problem = "everyone may write it";
    } else if (info_.st_nlink != 1) {
      problem = "it has " + std::to_string(info_.st_nlink) + " hard links";
    } else if ((info_.st_mode & S_IWGRP) != 0 && !runner.IsIn(info_.st_gid)) {
      problem = "group " + GroupName(info_.st_gid) + ", which you are not in, may write it";
    } else {
      problem = AclProblem(
          fd_.Get(), runner.Uid(), [&runner](gid_t group) { return runner.IsIn(group); }, "its");
    }
    return problem.empty() ? "" : problem + " (owner " + UserName(info_.st_uid) + ")";
  }

  // Takes a read lease on the file where the system grants one (to its
  // owner or a holder of CAP_LEASE), and says why the file may not run: a
  // lease is refused while any program has the file open for writing. The
  // lease goes with the descriptor to the shell, so an open for writing
  // waits until the shell has read the script. Its break is signalled with
  // SIGURG, which is ignored by default, to camfix.
  std::string Lease() const {
    if (fcntl(Fd(), F_SETSIG, SIGURG) == 0 && fcntl(Fd(), F_SETLEASE, F_RDLCK) != 0 &&
        errno == EAGAIN) {
      return "another program has it open for writing";
    }
    return "";
  }

 private:
  Descriptor fd_;
  struct stat info_ {};
  bool is_script_;
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

// One line on standard error; standard output keeps its bytes.
void SayNotStarted(const std::string& name, const std::string& problem) {
  const std::string line = "camfix: " + name + " was not started: " + problem + "\r\n";
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

// Only a script that no other user could have written is run, from a folder
// in which no other user could have renamed one of the runner's files.
void LaunchBatchFile(const char* file) {
  const auto spellings = SpellingsOf(file);
  if (spellings.empty()) return;
  // The shell drops to the real user, who is not the one checked for.
  if (getuid() != geteuid() || getgid() != getegid()) {
    return SayNotStarted(file, "your real and effective user or group ids differ");
  }
  const Runner runner;
  if (const auto problem = FolderProblem(runner); !problem.empty()) {
    return SayNotStarted(file, problem);
  }
  for (const auto& name : spellings) {
    const OpenScript script(name);
    if (!script.IsOpen()) continue;
    auto problem = script.Problem(runner);
    if (problem.empty()) problem = script.Lease();
    if (problem.empty()) return Start(name, script);
    SayNotStarted(name, problem);
  }
}

}  // namespace platform
