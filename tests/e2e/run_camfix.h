#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "support/scratch_folder.h"

// Runs the real camfix binary in a folder with chosen arguments and standard
// handles and collects what it writes, byte for byte.

enum class Output { kFile, kNull, kTerminal, kClosed, kBrokenPipe };

inline constexpr unsigned kNobody = 65534;
inline constexpr unsigned kColleagues = 4242;

struct RunOptions {
  std::string folder;                    // the working folder camfix starts in
  std::vector<std::string> arguments;    // after the program's name
  std::vector<std::string> environment;  // NAME=VALUE settings added for camfix
  std::string input;                     // bytes on standard input, a pipe closed after them
  bool keep_input_open = false;          // leave the input pipe open for Feed()
  bool close_input = false;              // start with standard input closed
  Output output = Output::kFile;         // kTerminal puts standard input and output on a terminal
  bool errors_to_output = false;         // standard error shares standard output's file
  long file_size_limit = 0;              // bytes, 0 for none
  long address_space_limit = 0;          // bytes, 0 for none
  bool as_colleague = false;             // run as nobody, in the group kColleagues too
  std::vector<std::string> launcher;     // a command camfix's own is appended to, run instead
  int seconds = 30;                      // then it is taken for hung and killed
};

struct RunResult {
  std::string out;
  std::string err;
  int exit_code = -1;
};

// The binary under test: $CAMFIX_UNDER_TEST, or the one just built.
std::string CamfixBinary();

class CamfixProcess {
 public:
  explicit CamfixProcess(const RunOptions& options);
  ~CamfixProcess();
  CamfixProcess(const CamfixProcess&) = delete;
  CamfixProcess& operator=(const CamfixProcess&) = delete;

  void Feed(const std::string& bytes);
  bool HasEnded();
  pid_t Pid() const { return pid_; }
  // Waits (at most the options' seconds, then kills) while it collects the
  // terminal's output, and collects everything.
  RunResult Finish();

 private:
  // Takes what the terminal holds, waiting at most `milliseconds` for it;
  // false when there was nothing.
  bool ReadTerminal(int milliseconds);

  pid_t pid_ = -1;
  int seconds_ = 30;
  int input_ = -1;
  int terminal_ = -1;      // the terminal's other side, when there is one
  ScratchFolder outputs_;  // standard output and error, when files
  RunResult result_;
};
