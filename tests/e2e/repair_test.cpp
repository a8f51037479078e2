#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

namespace {

using Files = std::map<std::string, std::string>;

const std::string kReport =
    "Drill report\r\n\r\nT-Code   Size\r\nT01      .0320\r\nT02      .0400\r\n-------\r\n";
const std::string kToolTable = "\nT01C0.0320\r\nT02C0.0400\r\n";

struct Scenario {
  const char* name;
  Files before;
  Files after;          // every file afterwards; names not listed must have gone
  std::string console;  // what follows the banner and the echo
};

class RepairTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(RepairTest, RewritesEveryFileAndReportsItOnTheConsole) {
  ScratchFolder folder;
  for (const auto& [name, bytes] : GetParam().before) folder.Write(name, bytes);
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, kBanner + "\n\r\n" + GetParam().console + kEnd);
  std::string names;
  for (const auto& [name, bytes] : GetParam().after) {
    EXPECT_EQ(folder.Read(name), bytes) << name;
    names += name + " ";
  }
  EXPECT_EQ(folder.Listing(), names);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, RepairTest,
    ::testing::Values(
        Scenario{"Empty", {}, {}, ""},
        Scenario{"TypicalBoard",
                 {{"board.GTL", "G04 top*\n%FSDAX24Y24*%\nFSFSD FSDD fsd\nX1Y1D01*"},
                  {"board.inf", kReport},
                  {"board.drl", "A\nB\rC\r\n"}},
                 {{"board.GTL", "G04 top*\r\n%FSLAX24Y24*%\r\nFSFSL FSLD fsd\r\nX1Y1D01*\r\n"},
                  {"board.drl", "A\r\nINCH,LZ\n\r" + kToolTable + "\r\nB\r\nC\r\n"},
                  {"board.inf", kReport}},
                 "File name = board.GTL\r\nFile size = 46\r\nprocessing...\r\nprocessing...\r\n" +
                     kToolTable + "\r\nprocessing .drl file\r\n"},
        Scenario{"LastReportWinsAndEveryDrillFileGetsIt",
                 {{"a.inf", kReport},
                  {"b.inf", "T-Code   Size\r\nT07      .1250\r\n----\r\n"},
                  {"a.drl", "M48\r\n%\r\n"},
                  {"b.drl", "M48\r\n%\r\n"}},
                 {{"a.inf", kReport},
                  {"b.inf", "T-Code   Size\r\nT07      .1250\r\n----\r\n"},
                  {"a.drl", "M48\r\nINCH,LZ\n\r\nT07C0.1250\r\n\r\n%\r\n"},
                  {"b.drl", "M48\r\nINCH,LZ\n\r\nT07C0.1250\r\n\r\n%\r\n"}},
                 "processing...\r\n" + kToolTable +
                     "\r\nprocessing...\r\n\nT07C0.1250\r\n\r\n"
                     "processing .drl file\r\nprocessing .drl file\r\n"},
        Scenario{"ReportWithoutHeadingGivesNoTable",  // and a one-line drill file
                 {{"r.inf", "just some text that is long enough\r\n----\r\n"}, {"d.drl", "M48"}},
                 {{"r.inf", "just some text that is long enough\r\n----\r\n"},
                  {"d.drl", "M48\r\nINCH,LZ\n\r\r\n"}},
                 "processing...\r\n\r\nprocessing .drl file\r\n"},
        Scenario{"NotTextIsLeftAlone",
                 {{"logo.gif", std::string("GIF89a\0FSD", 10)},
                  {"t.inf", std::string("T-Code   Size\0", 14)}},
                 {{"logo.gif", std::string("GIF89a\0FSD", 10)},
                  {"t.inf", std::string("T-Code   Size\0", 14)}},
                 "File name = logo.gif\r\nFile size = 10\r\n"
                 "not a text file, left unchanged: logo.gif\r\n"
                 "not a text file, left unchanged: t.inf\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Repair, SpecialEntriesArePassedOverWithoutAMessage) {
  ScratchFolder folder;
  mkdir((folder / "old.gbr").c_str(), 0755);
  mkdir((folder / "x.drl").c_str(), 0755);
  mkfifo((folder / "pipe.gtl").c_str(), 0644);
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.out, kBanner + "\n\r\n" + kEnd);
}

TEST(Repair, EmptyDrillFileEndsTheRunAfterEarlierFilesWereRepaired) {
  ScratchFolder folder;
  folder.Write("a.gtl", "%FSDAX24Y24*%\n");
  folder.Write("z.drl", "");
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  ExpectReport(result, "EStringListError", "List index out of bounds (1).");
  EXPECT_EQ(folder.Read("a.gtl"), "%FSLAX24Y24*%\r\n");
  EXPECT_EQ(folder.Read("z.drl"), "");
  EXPECT_EQ(result.out, kBanner +
                            "\n\r\nFile name = a.gtl\r\nFile size = 14\r\nprocessing...\r\n"
                            "processing .drl file\r\n");
}

TEST(Repair, ReadOnlyFileIsRefusedAndKept) {
  ScratchFolder folder;
  folder.Write("ro.gtl", "FSD\n");
  chmod((folder / "ro.gtl").c_str(), 0444);
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  ExpectReport(result, "EFCreateError",
               "Cannot create file \"" + ReportedPath(folder / "ro.gtl") + "\". " +
                   ThisPlatform().access_denied + ".");
  EXPECT_EQ(folder.Read("ro.gtl"), "FSD\n");
}

TEST(Repair, FailedWriteKeepsTheOriginalAndLeavesNoTemporaryFile) {
  if (ThisPlatform().wine) GTEST_SKIP() << "the file size limit's signal ends wine itself";
  ScratchFolder folder;
  const std::string original(300, 'x');  // grows by its CR LF beyond the limit
  folder.Write("big.gtl", original);
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n", .file_size_limit = 301});
  ExpectReport(result, "EWriteError", "Stream write error.");
  EXPECT_EQ(folder.Read("big.gtl"), original);
  EXPECT_EQ(folder.Listing(), "big.gtl ");
}

TEST(Repair, LinkIsReplacedByARegularFileAndItsTargetKept) {
  ScratchFolder outside;
  ScratchFolder folder;
  outside.Write("target", "FSD\n");
  ASSERT_EQ(symlink((outside / "target").c_str(), (folder / "link.gtl").c_str()), 0);
  EXPECT_EQ(RunCamfix({.folder = folder.Path(), .input = "\n\n"}).exit_code, 0);
  EXPECT_EQ(outside.Read("target"), "FSD\n");
  EXPECT_EQ(folder.Read("link.gtl"), "FSL\r\n");
  EXPECT_TRUE(
      std::filesystem::is_regular_file(std::filesystem::symlink_status(folder / "link.gtl")));
}

TEST(Repair, FilesDatedBefore1980AreSkippedByTheDrillPassesOnly) {
  ScratchFolder folder;
  folder.Write("old.gtl", "FSD\n");
  folder.Write("old.inf", kReport);
  folder.Write("old.drl", "M48\n");
  const timeval epoch[2] = {{0, 0}, {0, 0}};
  for (const char* name : {"old.gtl", "old.inf", "old.drl"}) utimes((folder / name).c_str(), epoch);
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  EXPECT_EQ(result.out,
            kBanner + "\n\r\nFile name = old.gtl\r\nFile size = 4\r\nprocessing...\r\n" + kEnd);
  EXPECT_EQ(folder.Read("old.gtl"), "FSL\r\n");
  EXPECT_EQ(folder.Read("old.drl"), "M48\n");
}

}  // namespace
