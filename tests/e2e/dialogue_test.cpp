#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

namespace {

const Files kBoard = {{"board.gtl", "FSD\n"}};
const Files kRepaired = {{"board.gtl", "FSL\r\n"}};

std::string IoError(int code) { return "I/O error " + std::to_string(code) + "."; }

TEST(Dialogue, RunsEndAsTheArgumentsAnswerAndHandlesSay) {
  const auto& platform = ThisPlatform();
  const bool slash_help = platform.slash_help;
  const std::string refused = kUsage + "camfix: cannot enter the folder \"";
  const std::string launched = "echo launched > marker\n";
  // clang-format off
  const Row rows[] = {
      {"AnyAnswerEchoesItsFirstByte", {.input = "abc\r\n\r\n"}, {}, 0, kBanner + "a\r\n" + kEnd},
      {"AnswerQEndsWithoutWaitingAndLosesNoOutput",
       {.input = "quit\n", .keep_input_open = true}, {}, 0, kBanner + "q\r\n" + kEnd},
      {"TerminalGetsCrForABareEnter", {.input = "\n\n", .output = Output::kTerminal}, {}, 0,
       kBanner + "\r\r\n" + kEnd, "", {}, "", false},  // wine's console wants CR, adds escapes
      {"NullDeviceTakesEverything", {.output = Output::kNull}},
      {"ClosedOutput", {.output = Output::kClosed}, {}, 1, "", IoError(platform.closed_output)},
      {"BrokenPipe", {.output = Output::kBrokenPipe}, {}, 1, "", IoError(platform.broken_pipe)},
      {"ClosedInput", {.close_input = true}, {}, 1, kBanner, IoError(platform.closed_input)},
      // The final flush fails (EFBIG; wine itself dies of SIGXFSZ), also after the answer q.
      {"FullFileAtTheEnd", {.input = "\n\n", .file_size_limit = 128}, kBoard, 1,
       kBanner + "\n\r\n", IoError(27), kRepaired, "EInOutError", false},
      {"FullFileAfterAnswerQ", {.input = "q\n", .file_size_limit = 128}, kBoard, 1,
       kBanner + "q\r\n", IoError(27), kRepaired, "EInOutError", false},
      {"ReaderLeavesAfterTheFirstBlock", {.input = "x\n\n", .output = Output::kPipeLeftEarly},
       kBoard, 1, kBanner + "x\r\n", IoError(platform.broken_pipe), kRepaired},
      {"FolderArgumentRunsThereWithGerberBat", {.arguments = {"{work}"}, .input = "\n\n"},
       {{"board.gtl", "FSD\n"}, {"gerber.bat", launched}}, 0,
       kBanner + "\n\r\nFile name = board.gtl\r\nFile size = 4\r\nprocessing...\r\n" + kEnd, "",
       {{"board.gtl", "FSL\r\n"}, {"marker", platform.batch_marker}}},
      {"Help", {.arguments = {"--help"}}, kBoard, 0, kUsage},
      {"ShortHelp", {.arguments = {"-h"}}, kBoard, 0, kUsage},
      {"SlashQuestionMark", {.arguments = {"/?"}}, kBoard, slash_help ? 0 : 2,
       slash_help ? kUsage : "", slash_help ? "" : refused + "/?\"\r\n"},
      {"Version", {.arguments = {"--version"}}, kBoard, 0, "camfix " CAMFIX_VERSION "\r\n"},
      {"UnknownOption", {.arguments = {"--fix"}}, kBoard, 2, "",
       kUsage + "camfix: unknown option \"--fix\"\r\n"},
      {"FileForFolder", {.arguments = {"board.gtl"}}, kBoard, 2, "", refused + "board.gtl\"\r\n"},
      {"TwoFolders", {.arguments = {"{work}", "{work}"}}, kBoard, 2, "",
       kUsage + "camfix: too many arguments (one folder at most)\r\n"},
      {"GerberBatInCapitalsWithCrLfLines", {.input = "\n\n"},
       {{"GERBER.BAT", "echo launched > marker\r\n"}}, 0, kBanner + "\n\r\n" + kEnd, "",
       {{"marker", platform.batch_marker}}},
      {"FirstSpellingInByteOrderIsLaunched", {.input = "\n\n"},
       {{"gerber.bat", "echo lower > marker\n"}, {"GERBER.BAT", "echo upper > marker\n"}}, 0,
       kBanner + "\n\r\n" + kEnd, "", {{"marker", "upper\n"}}, "", false},
      // The report follows the held output in the file both handles share.
      {"FailedRunLaunchesNothing", {.input = "\n\n", .errors_to_output = true},
       {{"gerber.bat", launched}, {"empty.drl", ""}}, 1,
       kBanner + "\n\r\nprocessing .drl file\r\n", "List index out of bounds (1).", {},
       "EStringListError"},
  };
  // clang-format on
  for (const auto& row : rows) {
    if (!platform.wine || row.wine) CheckRow(row);
  }
}

TEST(Dialogue, CapitalQWaitsForASecondLine) {
  ScratchFolder folder;
  CamfixProcess camfix({.folder = folder.Path(), .input = "Q\n", .keep_input_open = true});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(camfix.HasEnded());
  camfix.Feed("\n");
  EXPECT_EQ(camfix.Finish().exit_code, 0);
}

}  // namespace
