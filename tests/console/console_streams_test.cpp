#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include "console/console_streams.h"
#include "text/exceptions.h"

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

std::string Available(int fd) {
  std::string bytes;
  char buffer[4096];
  pollfd ready{fd, POLLIN, 0};
  while (poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0) {
    const auto got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

std::int32_t CheckedCode() {
  try {
    CheckConsoleError();
  } catch (const EInOutError& error) {
    return error.ErrorCode();
  }
  return 0;
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
    EXPECT_EQ(CheckedCode(), 0);
  }
  close(ends[0]);
  close(ends[1]);
}

struct Input {
  std::string bytes;
  char first, after_discard;
};

class ConsoleInputTest : public ::testing::TestWithParam<Input> {};

TEST_P(ConsoleInputTest, KeyCharThenDiscardLine) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(write(ends[1], GetParam().bytes.data(), GetParam().bytes.size()),
            static_cast<ssize_t>(GetParam().bytes.size()));
  close(ends[1]);
  {
    const StandardHandle in(STDIN_FILENO, ends[0]);
    EXPECT_EQ(ReadKeyChar(), GetParam().first);
    DiscardLine();
    EXPECT_EQ(ReadKeyChar(), GetParam().after_discard);
    EXPECT_EQ(CheckedCode(), 0);
  }
  close(ends[0]);
}

INSTANTIATE_TEST_SUITE_P(Streams, ConsoleInputTest,
                         ::testing::Values(Input{"abc\ndef", 'a', 'd'}, Input{"", 26, 26},
                                           Input{"\r\nx", '\r', 'x'},
                                           Input{"\nsecond\nthird", '\n', 't'},
                                           Input{"a\rb\nc", 'a', 'c'}, Input{"a\r\r\nz", 'a', 'z'},
                                           Input{"q", 'q', 26}, Input{"x\x1ay\nz", 'x', 26},
                                           Input{std::string(300, 'w') + "\nz", 'w', 'z'}));

}  // namespace
