#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "console/console_streams.h"

namespace {

// Puts `replacement` in place of a standard handle and fresh streams in
// place of the program's, until the end of the scope.
class StandardHandle {
 public:
  StandardHandle(int fd, int replacement) : fd_(fd), saved_(dup(fd)) {
    dup2(replacement, fd);
    ResetConsoleStreams();
  }
  ~StandardHandle() {
    dup2(saved_, fd_);
    close(saved_);
    ResetConsoleStreams();
  }

 private:
  int fd_, saved_;
};

// What `fd` holds, after waiting up to `wait` ms for its first bytes.
std::string Available(int fd, int wait = 0) {
  std::string bytes;
  char buffer[4096];
  pollfd ready{fd, POLLIN, 0};
  while (poll(&ready, 1, bytes.empty() ? wait : 0) == 1 && (ready.revents & POLLIN) != 0) {
    const auto got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

TEST(ConsoleOutput, PipeReceivesWholeBlocksUntilTheFlush) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  {
    const StandardHandle out(STDOUT_FILENO, ends[1]);
    WriteLine("abc");
    EXPECT_EQ(Available(ends[0]), "");
    WriteLine(std::string(200, 'x'));
    EXPECT_EQ(Available(ends[0]), "abc\r\n" + std::string(123, 'x'));
    WriteChar('!');
    FlushOutput();
    EXPECT_EQ(Available(ends[0]), std::string(77, 'x') + "\r\n!");
    EXPECT_EQ(PendingConsoleError, 0);
  }
  close(ends[0]);
  close(ends[1]);
}

// A terminal gets each line as it ends (raw, so that the bytes pass as they are).
TEST(ConsoleOutput, TerminalReceivesEachLineAsItEnds) {
  int terminal = -1, other = -1;
  termios mode{};
  cfmakeraw(&mode);
  ASSERT_EQ(openpty(&terminal, &other, nullptr, &mode, nullptr), 0);
  {
    const StandardHandle out(STDOUT_FILENO, other);
    WriteLine("abc");
    EXPECT_EQ(Available(terminal, 10'000), "abc\r\n");
  }
  close(terminal);
  close(other);
}

// errno values read as numbers (5 is EIO, no denied access); the streams' own
// codes keep their words.
TEST(ConsoleErrors, ErrnoValuesAreNumbersAndOwnCodesHaveWords) {
  const std::pair<int, std::string> codes[] = {
      {5, "I/O error 5"}, {2, "I/O error 2"}, {101, "Disk full"}, {105, "I/O error 105"}};
  char scratch[32];
  for (const auto& [code, text] : codes) EXPECT_EQ(InOutErrorMessage(code, scratch), text);
}

}  // namespace
