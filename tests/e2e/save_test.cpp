#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e/expectations.h"

namespace {

std::string BigGerber() {
  std::string text = "%FSDAX24Y24*%\n";
  while (text.size() < (std::size_t{64} << 20)) text += "X012345Y067890D01*\n";
  return text;
}

// Owners, links and signals are the Linux build's; other owners need root.
class Save : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ThisPlatform().wine || geteuid() != 0) GTEST_SKIP() << "Linux build, run as root";
    chmod(folder.Path().c_str(), 0777);
  }
  ScratchFolder folder;
};

// Where a rename would make another file of it (other links, an owner or
// group the user cannot give, a folder that takes no new file), the file is
// rewritten in place; set-id bits survive a rename as root. The rows check
// that owner, group, mode and links stay.
TEST_F(Save, FileKeepsWhatItIsAndAFullDiskKeepsItsBytes) {
  const RunOptions colleague = {.input = "\n\n", .as_colleague = true};
  const Files before = {{"a.gtl", "%FSDAX24Y24*%\n"}};
  const std::string fsl = "%FSLAX24Y24*%\r\n";
  const Files after = {{"a.gtl", fsl}};
  const auto out = Repaired(GerberLines("a.gtl", 14));
  // clang-format off
  const Row rows[] = {
      {"HardLink", {.input = "\n\n"}, before, 0, out, "", {{"a.gtl", fsl}, {"a.keep", fsl}}, "", false,
       [](const std::string& work) { link((work + "/a.gtl").c_str(), (work + "/a.keep").c_str()); }},
      {"SetIdBitsAsRoot", {.input = "\n\n"}, before, 0, out, "", after, "", false,
       [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), 1234, 1234), chmod((work + "/a.gtl").c_str(), 06755);
       }},
      {"FolderThatTakesNoNewFile", colleague, before, 0, out, "", after, "", false,
       [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), kNobody, kNobody), chown(work.c_str(), kNobody, kNobody);
         chmod(work.c_str(), 0555);
       }},
      {"ColleaguesFileInASharedStickyFolder", colleague, before, 0, out, "", after, "", false,
       [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), 0, kColleagues), chmod((work + "/a.gtl").c_str(), 0664);
         chmod(work.c_str(), 01777);
       }},
      {"FolderThatCannotBeListed", colleague, {}, 1, kBanner + "\n\r\n",
       "Cannot open file \"{work}\". Permission denied.", {}, "EFOpenError", false,
       [](const std::string& work) { chmod(work.c_str(), 0333); }},
      // The new content grows by a CR LF beyond the file size limit.
      {"DiskFullWhileRewritingInPlace", {.input = "\n\n", .file_size_limit = 301},
       {{"big.gtl", std::string(300, 'x')}}, 1, kBanner + "\n\r\n" + GerberLines("big.gtl", 300),
       "Stream write error.", {{"big.keep", std::string(300, 'x')}}, "EWriteError", false,
       [](const std::string& work) { link((work + "/big.gtl").c_str(), (work + "/big.keep").c_str()); }},
  };
  // clang-format on
  for (const auto& row : rows) CheckRow(row);
}

TEST_F(Save, FileChangedWhileReadIsLeftToTheOtherProgram) {
  const auto big = BigGerber();
  folder.Write("big.gtl", big);
  CamfixProcess camfix({.folder = folder.Path(), .input = "\n\n"});
  std::ofstream appender(folder / "big.gtl", std::ios::binary | std::ios::app);
  std::string appended;
  for (; !camfix.HasEnded(); appended += "G04*\n") appender << "G04*\n" << std::flush;
  ExpectReport(camfix.Finish(), "EFCreateError",
               "Cannot create file \"" + (folder / "big.gtl") +
                   "\". It was changed by another program meanwhile.");
  EXPECT_TRUE(folder.Read("big.gtl") == big + appended);
  EXPECT_EQ(RegularFiles(folder.Path()), "big.gtl ");
}

// Ctrl+C, SIGTERM or a hang-up during the save of a large file: the file is
// as it was or wholly repaired, and no temporary file is left, beside it or
// staged in /tmp.
TEST_F(Save, InterruptionLeavesNoTemporaryFile) {
  const auto big = BigGerber();
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const bool in_place : {false, true}) {
      ScratchFolder f;
      f.Write("big.gtl", big);
      if (in_place) link((f / "big.gtl").c_str(), (f / "big.keep").c_str());
      CamfixProcess camfix({.folder = f.Path(), .input = "x\n", .keep_input_open = true});
      const auto open_files = "/proc/" + std::to_string(camfix.Pid()) + "/fd";
      for (bool reading = false; !reading && !camfix.HasEnded();) {
        std::error_code ignored;
        for (const auto& fd : std::filesystem::directory_iterator(open_files, ignored)) {
          reading = reading || std::filesystem::read_symlink(fd, ignored) == f / "big.gtl";
        }
      }
      kill(camfix.Pid(), signal);
      EXPECT_EQ(camfix.Finish().exit_code, 128 + signal);
      const auto now = f.Read("big.gtl");
      EXPECT_TRUE(now == big || (now.starts_with("%FSL") && now.size() == big.size() * 20 / 19))
          << signal;
      EXPECT_EQ(RegularFiles(f.Path()), in_place ? "big.gtl big.keep " : "big.gtl ") << signal;
      EXPECT_EQ(StagedFiles(camfix.Pid()), 0u) << signal;
    }
  }
}

}  // namespace
