#include "e2e/run_camfix.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    Check(pipe2(fds, O_CLOEXEC) == 0, "pipe");
    read = fds[0];
    write = fds[1];
  }
};

// Typed lines arrive a line at a time; output bytes pass untranslated.
void MakeConsoleLike(int terminal) {
  termios mode{};
  tcgetattr(terminal, &mode);
  mode.c_lflag &= ~(ECHO | ECHONL);
  mode.c_lflag |= ICANON;
  mode.c_oflag &= ~OPOST;
  tcsetattr(terminal, TCSANOW, &mode);
}

void Limit(int resource, long bytes) {
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  if (bytes > 0) setrlimit(resource, &limit);
}

bool IsWindowsBinary(const std::string& binary) {
  return binary.size() > 4 && binary.compare(binary.size() - 4, 4, ".exe") == 0;
}

}  // namespace

std::string CamfixBinary() {
  const char* chosen = std::getenv("CAMFIX_UNDER_TEST");
  return chosen != nullptr && *chosen != '\0' ? chosen : CAMFIX_BINARY;
}

CamfixProcess::CamfixProcess(const RunOptions& options) : options_(options) {
  Pipe in, errors;
  int child_output = -1;
  int terminal = -1;
  if (options.output == Output::kTerminal) {
    Check(openpty(&output_, &terminal, nullptr, nullptr, nullptr) == 0, "openpty");
    MakeConsoleLike(terminal);
  } else if (options.output == Output::kPipe || options.output == Output::kBrokenPipe) {
    Pipe out;
    output_ = out.read;
    child_output = out.write;
    if (options.output == Output::kBrokenPipe) {
      close(output_);
      output_ = -1;
    }
  } else if (options.output == Output::kFile) {
    char name[] = "/tmp/camfix-output-XXXXXX";
    child_output = mkostemp(name, O_CLOEXEC);
    output_file_ = name;
  } else if (options.output == Output::kNull) {
    child_output = open("/dev/null", O_WRONLY | O_CLOEXEC);
  }

  const std::string binary = CamfixBinary();
  pid_ = fork();
  Check(pid_ >= 0, "fork");
  if (pid_ == 0) {
    if (chdir(options.folder.c_str()) != 0) _exit(120);
    const int stdin_source = terminal >= 0 ? terminal : in.read;
    dup2(stdin_source, STDIN_FILENO);
    if (options.close_input) close(STDIN_FILENO);
    if (terminal >= 0) dup2(terminal, STDOUT_FILENO);
    else if (child_output >= 0) dup2(child_output, STDOUT_FILENO);
    else close(STDOUT_FILENO);
    dup2(options.errors_to_output ? STDOUT_FILENO : errors.write, STDERR_FILENO);
    Limit(RLIMIT_FSIZE, options.file_size_limit);
    Limit(RLIMIT_AS, options.address_space_limit);
    if (IsWindowsBinary(binary)) {
      execlp("wine", "wine", binary.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(in.read);
  close(errors.write);
  if (child_output >= 0) close(child_output);
  errors_ = errors.read;
  input_ = terminal >= 0 ? dup(output_) : in.write;
  if (terminal >= 0) close(terminal);
  Feed(options.input);
  if (!options.keep_input_open) {
    close(input_);
    input_ = -1;
  }
}

CamfixProcess::~CamfixProcess() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    Finish();
  }
  for (int fd : {input_, output_, errors_}) {
    if (fd >= 0) close(fd);
  }
  if (!output_file_.empty()) unlink(output_file_.c_str());
}

void CamfixProcess::Feed(const std::string& bytes) {
  if (!bytes.empty()) Check(write(input_, bytes.data(), bytes.size()) == ssize_t(bytes.size()), "feed");
}

void CamfixProcess::Drain(bool wait) {
  pollfd fds[2] = {{output_, POLLIN, 0}, {errors_, POLLIN, 0}};
  if (poll(fds, 2, wait ? 50 : 0) <= 0) return;
  char buffer[65536];
  std::string* sinks[2] = {&result_.out, &result_.err};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP)) == 0) continue;
    const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
    if (got > 0) sinks[i]->append(buffer, static_cast<std::size_t>(got));
  }
}

bool CamfixProcess::HasEnded() {
  Drain(false);
  int status = 0;
  if (ended_ || waitpid(pid_, &status, WNOHANG) != pid_) return ended_;
  ended_ = true;
  result_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return true;
}

RunResult CamfixProcess::Finish() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!HasEnded()) {
    if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
    Drain(true);
  }
  for (int fd : {output_, errors_}) {
    if (fd >= 0) fcntl(fd, F_SETFL, O_NONBLOCK);
  }
  for (int round = 0; round < 100; ++round) Drain(false);
  if (!output_file_.empty()) {
    std::ifstream in(output_file_, std::ios::binary);
    result_.out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return result_;
}

RunResult RunCamfix(const RunOptions& options) { return CamfixProcess(options).Finish(); }
