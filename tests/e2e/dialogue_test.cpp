#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

namespace {

using Files = std::map<std::string, std::string>;

// One run of camfix in the work folder, or, when the first argument names the
// work folder ("{work}"), from an empty folder that must stay empty.
struct Case {
  const char* name;
  RunOptions options;  // the folder is the test's
  Files before;        // the work folder's files
  int exit_code = 0;
  std::string out;
  std::string err;  // with exit code 1 the message line of a report of `error`
  Files changes;    // the work folder's new and changed files afterwards
  const char* error = "EInOutError";
  bool wine = true;  // the row holds for camfix.exe under wine as well
};

const Files kBoard = {{"board.gtl", "FSD\n"}};
const Files kRepaired = {{"board.gtl", "FSL\r\n"}};

std::string IoError(int code) { return "I/O error " + std::to_string(code) + "."; }

TEST(Dialogue, RunsEndAsTheArgumentsAnswerAndHandlesSay) {
  const auto& platform = ThisPlatform();
  const bool slash_help = platform.slash_help;
  const std::string refused = kUsage + "camfix: cannot enter the folder \"";
  const std::string launched = "echo launched > marker\n";
  // clang-format off
  const Case cases[] = {
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
  for (const auto& run : cases) {
    if (platform.wine && !run.wine) continue;
    SCOPED_TRACE(run.name);
    ScratchFolder start, work;
    for (const auto& [name, bytes] : run.before) work.Write(name, bytes);
    auto options = run.options;
    for (auto& argument : options.arguments) {
      if (argument == "{work}") argument = ReportedPath(work.Path());
    }
    const bool from_start = !run.options.arguments.empty() && run.options.arguments[0] == "{work}";
    options.folder = from_start ? start.Path() : work.Path();
    auto result = RunCamfix(options);
    // gerber.bat runs detached: its marker is waited for, or, when it must
    // not come, given half a second to show up anyway.
    const bool marked = run.changes.contains("marker");
    const int waits = marked ? 500 : run.before.contains("gerber.bat") ? 50 : 0;
    for (int tries = 0; tries < waits && work.Read("marker").empty(); ++tries) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (options.errors_to_output) {
      result.err = result.out.substr(std::min(run.out.size(), result.out.size()));
      result.out.resize(result.out.size() - result.err.size());
    }
    EXPECT_EQ(result.out, run.out);
    if (run.exit_code == 1 && result.exit_code == 1) {
      ExpectReport(result, run.error, run.err);
    } else {
      EXPECT_EQ(result.exit_code, run.exit_code);
      EXPECT_EQ(result.err, run.err);
    }
    auto after = run.changes;
    after.insert(run.before.begin(), run.before.end());
    std::string names;
    for (const auto& [name, bytes] : after) {
      EXPECT_EQ(work.Read(name), bytes) << name;
      names += name + " ";
    }
    EXPECT_EQ(work.Listing(), names);
    EXPECT_EQ(start.Listing(), "");
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
