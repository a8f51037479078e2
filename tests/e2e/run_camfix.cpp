#include "e2e/run_camfix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// For the parent's set-up only: the forked child never throws, it exits.
void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// Typed lines arrive a line at a time; input and output bytes pass
// untranslated (a CR stays a CR, which is Enter to wine's console).
void MakeConsoleLike(int terminal) {
  termios mode{};
  tcgetattr(terminal, &mode);
  mode.c_lflag = (mode.c_lflag & ~(ECHO | ECHONL)) | ICANON;
  mode.c_iflag &= ~ICRNL;
  mode.c_oflag &= ~OPOST;
  tcsetattr(terminal, TCSANOW, &mode);
}

void Limit(int resource, long bytes) {
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  if (bytes > 0) setrlimit(resource, &limit);
}

// Sets up the child's standard handles as `options` asks (`input`, `out`: a
// pipe's end or the terminal, `out` -1 for none), then runs `argv` with no
// other descriptor. It never throws or returns: a failure ends it with a code.
[[noreturn]] void RunChild(const RunOptions& options, const std::vector<char*>& argv, int input,
                           int out, const std::string& out_file, const std::string& err_file) {
  if (chdir(options.folder.c_str()) != 0) _exit(120);
  if (options.output == Output::kFile) out = open(out_file.c_str(), O_WRONLY | O_CLOEXEC);
  if (options.output == Output::kNull) out = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (dup2(open(err_file.c_str(), O_WRONLY | O_CLOEXEC), STDERR_FILENO) < 0 ||
      dup2(input, STDIN_FILENO) < 0 || (out >= 0 && dup2(out, STDOUT_FILENO) < 0)) {
    _exit(121);
  }
  if (out < 0) close(STDOUT_FILENO);
  if (options.close_input) close(STDIN_FILENO);
  if (options.errors_to_output) dup2(STDOUT_FILENO, STDERR_FILENO);
  close_range(3, ~0U, 0);  // the terminal's, and what the test program inherited
  const gid_t groups[] = {kColleagues};
  if (options.as_colleague &&
      (setgroups(1, groups) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
    _exit(122);
  }
  for (const auto& setting : options.environment) putenv(const_cast<char*>(setting.c_str()));
  Limit(RLIMIT_FSIZE, options.file_size_limit);
  Limit(RLIMIT_AS, options.address_space_limit);
  execvp(argv[0], argv.data());
  _exit(127);
}

// CTest sets CAMFIX_SKIP_REASON where the program cannot run (wine missing):
// then every case skips, saying why.
class SkipWhereToldTo : public ::testing::Environment {
  void SetUp() override {
    if (const char* reason = std::getenv("CAMFIX_SKIP_REASON")) GTEST_SKIP() << reason;
  }
};
const auto* const kSkip = ::testing::AddGlobalTestEnvironment(new SkipWhereToldTo);

}  // namespace

std::string CamfixBinary() {
  const char* chosen = std::getenv("CAMFIX_UNDER_TEST");
  return chosen != nullptr && *chosen != '\0' ? chosen : CAMFIX_BINARY;
}

CamfixProcess::CamfixProcess(const RunOptions& options) : seconds_(options.seconds) {
  for (const char* name : {"out", "err"}) outputs_.Write(name, "");
  for (const char* name : {"", "/out", "/err"}) chmod((outputs_.Path() + name).c_str(), 0777);
  std::vector<std::string> command = {CamfixBinary()};
  if (command[0].ends_with(".exe")) command.insert(command.begin(), "wine");
  command.insert(command.begin(), options.launcher.begin(), options.launcher.end());
  command.insert(command.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;  // ended by a null pointer
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  int ends[2];
  Check(pipe2(ends, O_CLOEXEC) == 0, "pipe");
  int output[2] = {-1, -1};
  if (options.output == Output::kBrokenPipe) {
    Check(pipe2(output, O_CLOEXEC) == 0, "pipe");
  }
  int terminal = -1;
  if (options.output == Output::kTerminal) {
    Check(openpty(&terminal_, &terminal, nullptr, nullptr, nullptr) == 0, "openpty");
    MakeConsoleLike(terminal);
  }
  pid_ = fork();
  Check(pid_ >= 0, "fork");
  if (pid_ == 0) {
    RunChild(options, argv, terminal >= 0 ? terminal : ends[0],
             terminal >= 0 ? terminal : output[1], outputs_ / "out", outputs_ / "err");
  }
  for (int fd : {ends[0], terminal, output[1]}) {
    if (fd >= 0) close(fd);
  }
  if (options.output == Output::kBrokenPipe) close(output[0]);
  input_ = terminal_ >= 0 ? dup(terminal_) : ends[1];
  if (terminal_ >= 0) close(ends[1]);

  Feed(options.input);
  if (!options.keep_input_open && terminal_ < 0) {
    close(input_);
    input_ = -1;
  }
}

CamfixProcess::~CamfixProcess() {
  if (result_.exit_code < 0) {
    kill(pid_, SIGKILL);
    Finish();
  }
  for (int fd : {input_, terminal_}) {
    if (fd >= 0) close(fd);
  }
}

void CamfixProcess::Feed(const std::string& bytes) {
  if (!bytes.empty())
    Check(write(input_, bytes.data(), bytes.size()) == ssize_t(bytes.size()), "feed");
}

bool CamfixProcess::HasEnded() {
  int status = 0;
  if (result_.exit_code >= 0 || waitpid(pid_, &status, WNOHANG) != pid_) {
    return result_.exit_code >= 0;
  }
  result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

bool CamfixProcess::ReadTerminal(int milliseconds) {
  pollfd ready{terminal_, POLLIN, 0};
  if (terminal_ < 0 || poll(&ready, 1, milliseconds) != 1) return false;
  char buffer[4096];
  const auto got = read(terminal_, buffer, sizeof buffer);
  if (got > 0) result_.out.append(buffer, static_cast<std::size_t>(got));
  return got > 0;
}

// The terminal is read while camfix runs: it would block once the terminal's
// buffer were full.
RunResult CamfixProcess::Finish() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds_);
  while (!HasEnded()) {
    if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
    if (!ReadTerminal(5)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  while (ReadTerminal(0)) {
  }
  result_.out += outputs_.Read("out");
  result_.err = outputs_.Read("err");
  return result_;
}
