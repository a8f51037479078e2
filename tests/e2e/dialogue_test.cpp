#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

namespace {

TEST(Dialogue, EchoesTheFirstByteAndEndsAfterOneMoreLine) {
  const std::pair<std::string, std::string> answers[] = {
      {"abc\r\n\r\n", "a\r\n"}, {"", "\x1a\r\n"}, {"\r\n\r\n", "\r\r\n"}};
  for (const auto& [input, echo] : answers) {
    ScratchFolder folder;
    const auto result = RunCamfix({.folder = folder.Path(), .input = input});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out, kBanner + echo + kEnd);
    EXPECT_EQ(result.err, "");
  }
}

TEST(Dialogue, AnswerQEndsWithoutWaitingAndLosesNoOutput) {
  ScratchFolder folder;
  CamfixProcess camfix({.folder = folder.Path(), .input = "quit\n", .keep_input_open = true});
  const auto result = camfix.Finish();
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, kBanner + "q\r\n" + kEnd);
}

TEST(Dialogue, CapitalQWaitsForASecondLine) {
  ScratchFolder folder;
  CamfixProcess camfix({.folder = folder.Path(), .input = "Q\n", .keep_input_open = true});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(camfix.HasEnded());
  camfix.Feed("\n");
  EXPECT_EQ(camfix.Finish().exit_code, 0);
}

TEST(Dialogue, TerminalGetsCrForABareEnterAndEveryLine) {
  if (ThisPlatform().wine) GTEST_SKIP() << "wine's console wants CR for Enter, adds escape codes";
  ScratchFolder folder;
  const auto result =
      RunCamfix({.folder = folder.Path(), .input = "\n\n", .output = Output::kTerminal});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, kBanner + "\r\r\n" + kEnd);
}

TEST(Dialogue, UnusableHandlesEndWithAnInOutReport) {
  ScratchFolder folder;
  EXPECT_EQ(RunCamfix({.folder = folder.Path(), .output = Output::kNull}).exit_code, 0);
  const auto io_error = [](int code) { return "I/O error " + std::to_string(code) + "."; };
  ExpectReport(RunCamfix({.folder = folder.Path(), .output = Output::kClosed}), "EInOutError",
               io_error(ThisPlatform().closed_output));
  ExpectReport(RunCamfix({.folder = folder.Path(), .output = Output::kBrokenPipe}), "EInOutError",
               io_error(ThisPlatform().broken_pipe));
  ExpectReport(RunCamfix({.folder = folder.Path(), .close_input = true}), "EInOutError",
               io_error(ThisPlatform().closed_input));
}

TEST(Dialogue, HeldOutputStandsBeforeTheReportInASharedFile) {
  ScratchFolder folder;
  folder.Write("empty.drl", "");
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n", .errors_to_output = true});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out.rfind(kBanner + "\n\r\nprocessing .drl file\r\nException ", 0), 0u)
      << result.out;
}

TEST(Dialogue, LaunchesGerberBatUnlessTheRunFailed) {
  for (const bool fail : {false, true}) {
    ScratchFolder folder;
    folder.Write("gerber.bat", "echo launched > marker\n");
    if (fail) folder.Write("empty.drl", "");
    EXPECT_EQ(RunCamfix({.folder = folder.Path(), .input = "\n\n"}).exit_code, fail ? 1 : 0);
    bool marked = false;
    for (int tries = 0; tries < 50 && !marked; ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(fail ? 10 : 100));
      marked = folder.Read("marker") == ThisPlatform().batch_marker;
    }
    EXPECT_EQ(marked, !fail);
  }
}

}  // namespace
