#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include "program/own_window.h"

namespace {

// A window made of two pipes: what camfix writes to it, and what is typed.
class PipeWindow {
 public:
  PipeWindow(bool own, const std::string& typed) {
    EXPECT_EQ(pipe2(shown_, O_NONBLOCK), 0);
    EXPECT_EQ(pipe(typed_), 0);
    EXPECT_EQ(write(typed_[1], typed.data(), typed.size()), ssize_t(typed.size()));
    close(typed_[1]);
    window_ = {own, typed_[0], shown_[1]};
  }
  ~PipeWindow() {
    for (int fd : {shown_[0], shown_[1], typed_[0]}) close(fd);
  }
  const platform::ConsoleWindow& Window() const { return window_; }
  std::string Shown() const {
    char buffer[4096];
    const auto got = read(shown_[0], buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : "";
  }
  std::string LeftTyped() const {
    char buffer[4096];
    const auto got = read(typed_[0], buffer, sizeof buffer);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : "";
  }

 private:
  int shown_[2] = {-1, -1}, typed_[2] = {-1, -1};
  platform::ConsoleWindow window_;
};

std::string FolderShown() {
  return "camfix is about to repair the CAM files in\r\n  " +
         std::filesystem::current_path().string() +
         "\r\nIf that is the wrong folder, close this window or press Ctrl+C.\r\n\r\n";
}

struct Row {
  const char* name;
  bool own;
  std::string typed;       // what stands in the window's input
  std::string shown;       // what the window shows for the folder and the wait
  std::string left_typed;  // what the wait leaves unread
};

// A console hands over one line a read; a pipe all it holds, so the wait
// takes in whatever was typed.
const Row kRows[] = {
    {"NotOwnShowsAndReadsNothing", false, "\r\n", "", "\r\n"},
    {"OwnWaitsForEnter", true, "\r\n", FolderShown() + "Press Enter to close this window.", ""},
    {"OwnEndsAtTheEndOfInput", true, "", FolderShown() + "Press Enter to close this window.", ""},
};

class OwnWindow : public ::testing::TestWithParam<Row> {};

TEST_P(OwnWindow, ShowsTheFolderAndWaitsOnlyWhenOwn) {
  const PipeWindow pipes(GetParam().own, GetParam().typed);
  ShowFolderToRepair(pipes.Window());
  WaitBeforeClosing(pipes.Window());
  EXPECT_EQ(pipes.Shown(), GetParam().shown);
  EXPECT_EQ(pipes.LeftTyped(), GetParam().left_typed);
}

INSTANTIATE_TEST_SUITE_P(Rows, OwnWindow, ::testing::ValuesIn(kRows),
                         [](const auto& row) { return std::string(row.param.name); });

// A terminal outlives camfix: on POSIX no window is camfix's own, even with
// every standard handle on a terminal.
TEST(OwnWindow, PosixTerminalIsNeverOwn) {
  int terminal = -1, other = -1;
  ASSERT_EQ(openpty(&terminal, &other, nullptr, nullptr, nullptr), 0);
  int saved[3];
  for (int fd = 0; fd < 3; ++fd) {
    saved[fd] = dup(fd);
    dup2(other, fd);
  }
  const auto window = platform::OwnConsoleWindow();
  for (int fd = 0; fd < 3; ++fd) {
    dup2(saved[fd], fd);
    close(saved[fd]);
  }
  close(terminal);
  close(other);
  EXPECT_FALSE(window.own);
  EXPECT_EQ(window.output, platform::kInvalidHandle);
}

}  // namespace
