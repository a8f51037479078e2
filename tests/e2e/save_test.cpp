#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "e2e/expectations.h"

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kColleagues = 4242;

std::string BigGerber() {
  std::string text = "%FSDAX24Y24*%\n";
  while (text.size() < (std::size_t{64} << 20)) text += "X012345Y067890D01*\n";
  return text;
}

std::size_t StagedFiles() {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
    const auto name = entry.path().filename().string();
    count += name.starts_with("camfix-") && name.ends_with(".tmp");
  }
  return count;
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
// rewritten in place: owner, group, mode and links stay; so do set-id bits.
TEST_F(Save, FileKeepsWhatItIs) {
  const auto& f = folder;
  const std::function<void()> cases[] = {
      [&] { link((f / "a.gtl").c_str(), (f / "a.keep").c_str()); },
      [&] { chown((f / "a.gtl").c_str(), 1234, 1234), chmod((f / "a.gtl").c_str(), 06755); },
      [&] {
        chown((f / "a.gtl").c_str(), kNobody, kNobody), chown(f.Path().c_str(), kNobody, kNobody);
        chmod(f.Path().c_str(), 0555);
      },
      [&] {
        chown((f / "a.gtl").c_str(), 0, kColleagues), chmod((f / "a.gtl").c_str(), 0664);
        chmod(f.Path().c_str(), 01777);  // a shared folder, sticky
      },
  };
  for (std::size_t at = 0; at < std::size(cases); ++at) {
    std::filesystem::remove(f / "a.keep");
    f.Write("a.gtl", "%FSDAX24Y24*%\n");
    cases[at]();
    struct stat before {}, after {};
    stat((f / "a.gtl").c_str(), &before);
    const pid_t child = fork();
    if (child == 0) {  // the last two as a user of the colleagues' group
      const gid_t groups[] = {kColleagues};
      if (at >= 2 && (setgroups(1, groups) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
        _exit(99);
      _exit(RunCamfix({.folder = f.Path(), .input = "\n\n"}).exit_code);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << at;
    stat((f / "a.gtl").c_str(), &after);
    EXPECT_EQ(f.Read("a.gtl"), "%FSLAX24Y24*%\r\n") << at;
    EXPECT_EQ(std::tie(after.st_uid, after.st_gid, after.st_mode, after.st_nlink),
              std::tie(before.st_uid, before.st_gid, before.st_mode, before.st_nlink))
        << at;
    chmod(f.Path().c_str(), 0777);
    EXPECT_EQ(RegularFiles(f.Path()), before.st_nlink > 1 ? "a.gtl a.keep " : "a.gtl ") << at;
  }
}

TEST_F(Save, DiskFullWhileRewritingInPlaceKeepsTheOriginal) {
  const std::string original(300, 'x');  // grows by its CR LF beyond the limit
  folder.Write("big.gtl", original);
  link((folder / "big.gtl").c_str(), (folder / "big.keep").c_str());
  const auto staged = StagedFiles();
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n", .file_size_limit = 301});
  ExpectReport(result, "EWriteError", "Stream write error.");
  EXPECT_EQ(folder.Read("big.gtl"), original);
  EXPECT_EQ(RegularFiles(folder.Path()), "big.gtl big.keep ");
  EXPECT_EQ(StagedFiles(), staged);
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
      const auto staged = StagedFiles();
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
      EXPECT_EQ(StagedFiles(), staged) << signal;
    }
  }
}

}  // namespace
