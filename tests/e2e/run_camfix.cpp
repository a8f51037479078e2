#include "e2e/run_camfix.h"

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <signal.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "support/scratch_folder.h"

namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(what);
}

// Typed lines arrive a line at a time; output bytes pass untranslated.
void MakeConsoleLike(int terminal) {
  termios mode{};
  tcgetattr(terminal, &mode);
  mode.c_lflag = (mode.c_lflag & ~(ECHO | ECHONL)) | ICANON;
  mode.c_oflag &= ~OPOST;
  tcsetattr(terminal, TCSANOW, &mode);
}

void Limit(int resource, long bytes) {
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  if (bytes > 0) setrlimit(resource, &limit);
}

std::string TempFile() {
  char name[] = "/tmp/camfix-output-XXXXXX";
  close(mkstemp(name));
  return name;
}

std::string ReadAndRemove(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unlink(path.c_str());
  return bytes;
}

// Sets up the child's standard handles as `options` asks, then runs camfix.
[[noreturn]] void RunChild(const RunOptions& options, int input, int terminal,
                           const std::string& out_file, const std::string& err_file) {
  if (chdir(options.folder.c_str()) != 0) _exit(120);
  dup2(open(err_file.c_str(), O_WRONLY | O_CLOEXEC), STDERR_FILENO);
  dup2(terminal >= 0 ? terminal : input, STDIN_FILENO);
  int out = -1;
  if (options.output == Output::kTerminal) out = terminal;
  if (options.output == Output::kFile) out = open(out_file.c_str(), O_WRONLY);
  if (options.output == Output::kNull) out = open("/dev/null", O_WRONLY);
  if (options.output == Output::kBrokenPipe) {
    int ends[2];
    Check(pipe(ends) == 0, "pipe");
    close(ends[0]);
    out = ends[1];
  }
  if (out >= 0) dup2(out, STDOUT_FILENO);
  else close(STDOUT_FILENO);
  if (options.close_input) close(STDIN_FILENO);
  if (options.errors_to_output) dup2(STDOUT_FILENO, STDERR_FILENO);
  Limit(RLIMIT_FSIZE, options.file_size_limit);
  Limit(RLIMIT_AS, options.address_space_limit);
  const std::string binary = CamfixBinary();
  if (binary.ends_with(".exe")) {
    execlp("wine", "wine", binary.c_str(), static_cast<char*>(nullptr));
  }
  execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

}  // namespace

std::string CamfixBinary() {
  const char* chosen = std::getenv("CAMFIX_UNDER_TEST");
  return chosen != nullptr && *chosen != '\0' ? chosen : CAMFIX_BINARY;
}

CamfixProcess::CamfixProcess(const RunOptions& options)
    : out_file_(TempFile()), err_file_(TempFile()) {
  int ends[2];
  Check(pipe2(ends, O_CLOEXEC) == 0, "pipe");
  int terminal = -1;
  if (options.output == Output::kTerminal) {
    Check(openpty(&terminal_, &terminal, nullptr, nullptr, nullptr) == 0, "openpty");
    MakeConsoleLike(terminal);
  }
  pid_ = fork();
  Check(pid_ >= 0, "fork");
  if (pid_ == 0) RunChild(options, ends[0], terminal, out_file_, err_file_);
  close(ends[0]);
  if (terminal >= 0) close(terminal);
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

RunResult CamfixProcess::Finish() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!HasEnded()) {
    if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  char buffer[4096];
  for (ssize_t got = 0; terminal_ >= 0 && (got = read(terminal_, buffer, sizeof buffer)) > 0;) {
    result_.out.append(buffer, static_cast<std::size_t>(got));
  }
  result_.out += ReadAndRemove(out_file_);
  result_.err = ReadAndRemove(err_file_);
  return result_;
}

RunResult RunCamfix(const RunOptions& options) { return CamfixProcess(options).Finish(); }
