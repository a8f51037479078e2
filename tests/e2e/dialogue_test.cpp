#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <unistd.h>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

namespace {

const Files kBoard = {{"board.gtl", "FSD\n"}};
const Files kRepaired = {{"board.gtl", "FSL\r\n"}};

// Under wine, drive K: of the prefix becomes the work folder.
void MapDriveK(const std::string& work) {
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr || !ThisPlatform().wine) return;
  const std::string drive = std::string(prefix) + "/dosdevices/k:";
  unlink(drive.c_str());
  ASSERT_EQ(symlink(work.c_str(), drive.c_str()), 0);
}

std::string IoError(int code) { return "I/O error " + std::to_string(code) + "."; }

class Dialogue : public ::testing::TestWithParam<Row> {};

std::vector<Row> DialogueRows() {
  const auto& platform = ThisPlatform();
  const bool slash_help = platform.slash_help;
  const std::string refused = kUsage + "camfix: cannot enter the folder \"";
  const std::string launched = "echo launched > marker\n";
  const char* const wine_dies = "wine itself dies of SIGXFSZ";
  // clang-format off
  return {
      {.name = "AnyAnswerEchoesItsFirstByte", .options = {.input = "abc\r\n\r\n"}, .out = kBanner + "a\r\n" + kEnd},
      {.name = "AnswerQEndsWithoutWaitingAndLosesNoOutput",
       .options = {.input = "quit\n", .keep_input_open = true}, .out = kBanner + "q\r\n" + kEnd},
      {.name = "TerminalGetsCrForABareEnter", .options = {.input = "\n\n", .output = Output::kTerminal},
       .out = kBanner + "\r\r\n" + kEnd, .linux_only = "wine's console wants CR and adds escapes"},
      {.name = "NullDeviceTakesEverything", .options = {.output = Output::kNull}},
      {.name = "ClosedOutput", .options = {.output = Output::kClosed}, .exit_code = 1,
       .err = IoError(platform.closed_output)},
      {.name = "BrokenPipe", .options = {.output = Output::kBrokenPipe}, .exit_code = 1,
       .err = IoError(platform.broken_pipe)},
      {.name = "ClosedInput", .options = {.close_input = true}, .exit_code = 1, .out = kBanner,
       .err = IoError(platform.closed_input)},
      // The final flush fails (EFBIG), also after the answer q.
      {.name = "FullFileAfterAnswerQ", .options = {.input = "q\n", .file_size_limit = 128}, .before = kBoard,
       .exit_code = 1, .out = kBanner + "q\r\n", .err = IoError(27), .changes = kRepaired,
       .linux_only = wine_dies},
      {.name = "FolderArgumentRunsThereWithGerberBat", .options = {.arguments = {"{work}"}, .input = "\n\n"},
       .before = {{"board.gtl", "FSD\n"}, {"gerber.bat", launched}},
       .out = kBanner + "\n\r\nFile name = board.gtl\r\nFile size = 4\r\nprocessing...\r\n" + kEnd,
       .changes = {{"board.gtl", "FSL\r\n"}, {"marker", platform.batch_marker}}},
      {.name = "Help", .options = {.arguments = {"--help"}}, .before = kBoard, .out = kUsage},
      {.name = "ShortHelp", .options = {.arguments = {"-h"}}, .before = kBoard, .out = kUsage},
      {.name = "SlashQuestionMark", .options = {.arguments = {"/?"}}, .before = kBoard,
       .exit_code = slash_help ? 0 : 2, .out = slash_help ? kUsage : "",
       .err = slash_help ? "" : refused + "/?\"\r\n"},
      {.name = "Version", .options = {.arguments = {"--version"}}, .before = kBoard,
       .out = "camfix " CAMFIX_VERSION "\r\n"},
      {.name = "UnknownOption", .options = {.arguments = {"--fix"}}, .before = kBoard, .exit_code = 2,
       .err = kUsage + "camfix: unknown option \"--fix\"\r\n"},
      {.name = "FileForFolder", .options = {.arguments = {"board.gtl"}}, .before = kBoard, .exit_code = 2,
       .err = refused + "board.gtl\"\r\n"},
      {.name = "TwoFolders", .options = {.arguments = {"{work}", "{work}"}}, .before = kBoard, .exit_code = 2,
       .err = kUsage + "camfix: too many arguments (one folder at most)\r\n"},
      {.name = "GerberBatOnPathIsNotLaunched",
       .options = {.environment = {platform.wine ? "WINEPATH={work}\\sub" : "PATH={work}/sub:/usr/bin:/bin"},
                   .input = "\n\n"},
       .before = {{"sub/gerber.bat", launched}}, .out = kBanner + "\n\r\n" + kEnd},
      // Explorer's "K:\" for the background of a drive arrives as K:".
      {.name = "DriveRootAsExplorerPassesIt",
       .options = {.arguments = {"K:\""}, .input = platform.wine ? "\n\n" : ""},
       .before = kBoard, .exit_code = platform.wine ? 0 : 2,
       .out = platform.wine ? kBanner + "\n\r\nFile name = board.gtl\r\nFile size = 4\r\nprocessing...\r\n" + kEnd : "",
       .err = platform.wine ? "" : refused + "K:\"\"\r\n", .changes = platform.wine ? kRepaired : Files{},
       .arrange = MapDriveK},
      {.name = "GerberBatInCapitalsWithCrLfLines", .before = {{"GERBER.BAT", "echo launched > marker\r\n"}},
       .out = kBanner + "\n\r\n" + kEnd, .changes = {{"marker", platform.batch_marker}}},
      {.name = "FirstSpellingInByteOrderIsLaunched",
       .before = {{"gerber.bat", "echo lower > marker\n"}, {"GERBER.BAT", "echo upper > marker\n"}},
       .out = kBanner + "\n\r\n" + kEnd, .changes = {{"marker", "upper\n"}},
       .linux_only = "Windows names ignore case: one file"},
      // An empty drill file ends the run; the file repaired before stays so, and
      // the report follows the held output in the file both handles share.
      {.name = "FailedRunLaunchesNothing", .options = {.input = "\n\n", .errors_to_output = true},
       .before = {{"board.gtl", "FSD\n"}, {"gerber.bat", launched}, {"empty.drl", ""}}, .exit_code = 1,
       .out = kBanner + "\n\r\n" + GerberLines("board.gtl", 4) + "processing .drl file\r\n",
       .err = "List index out of bounds (1).", .changes = kRepaired, .error = "EStringListError"},
  };
  // clang-format on
}
ROW_TESTS(Dialogue, DialogueRows);

// A console shows a name as it is, whatever its own code page (under wine a
// terminal is a console, which adds escapes of its own).
TEST(Dialogue, TerminalShowsANonAsciiNameAsItIs) {
  ScratchFolder folder;
  folder.Write("M\xC3\xBCller.gtl", "FSD\n");
  const char* enter_twice = ThisPlatform().wine ? "\r\r" : "\n\n";
  CamfixProcess camfix(
      {.folder = folder.Path(), .input = enter_twice, .output = Output::kTerminal});
  const auto result = camfix.Finish();
  EXPECT_NE(result.out.find("File name = M\xC3\xBCller.gtl\r"), std::string::npos) << result.out;
  EXPECT_EQ(result.exit_code, 0);
}

// gerber.bat is started before camfix waits for the last line, which a
// capital Q does not spare.
TEST(Dialogue, GerberBatStartsBeforeCapitalQWaitsForASecondLine) {
  ScratchFolder folder;
  folder.Write("gerber.bat", "echo launched > marker\n");
  CamfixProcess camfix({.folder = folder.Path(), .input = "Q\n", .keep_input_open = true});
  for (int tries = 0; tries < 1000 && folder.Read("marker").empty(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(folder.Read("marker"), ThisPlatform().batch_marker);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(camfix.HasEnded());
  camfix.Feed("\n");
  EXPECT_EQ(camfix.Finish().exit_code, 0);
}

}  // namespace
