#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kColleagues = 4242;

// `count` MiB of Gerber lines with LF ends, and what camfix makes of them.
struct BigGerber {
  std::string before, after;
  explicit BigGerber(std::size_t mebibytes) {
    std::string line = "X012345Y067890D01*\n", block;
    while (block.size() < (std::size_t{1} << 20)) block += line;
    before = "%FSDAX24Y24*%\n";
    while (before.size() < (mebibytes << 20)) before += block;
    line.insert(line.size() - 1, "\r");
    after = "%FSLAX24Y24*%\r\n";
    while (after.size() < before.size() + before.size() / 19 - 1) after += line;
  }
};

// Runs `body` in a child process as the user nobody, with the colleagues'
// group among its groups; gives the child's exit code.
int AsNobody(const std::function<int()>& body) {
  const pid_t child = fork();
  if (child == 0) {
    const gid_t groups[] = {kColleagues};
    if (setgroups(1, groups) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(99);
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_ino;
}

std::size_t StagedFiles() {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/tmp")) {
    count += entry.path().filename().string().starts_with("camfix-") &&
             entry.path().extension() == ".tmp";
  }
  return count;
}

class SaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ThisPlatform().wine) GTEST_SKIP() << "owners, links and signals are the Linux build's";
    if (geteuid() != 0) GTEST_SKIP() << "arranging other owners needs root";
    std::filesystem::permissions(folder.Path(), std::filesystem::perms::all);
  }
  RunResult Run(long file_size_limit = 0) const {
    return RunCamfix({.folder = folder.Path(), .input = "\n\n", .file_size_limit = file_size_limit});
  }
  ScratchFolder folder;
};

// Where a rename would make another file of it, the file is rewritten in
// place: same inode, owner, group, mode and other names.
TEST_F(SaveTest, FileKeepsWhatItIs) {
  struct Case {
    const char* name;
    std::function<void(const ScratchFolder&)> arrange;
    bool as_nobody;
  } cases[] = {
      {"hard link", [](const auto& f) { link((f / "a.gtl").c_str(), (f / "a.keep").c_str()); },
       false},
      {"set-id bits as root",
       [](const auto& f) {
         chown((f / "a.gtl").c_str(), 1234, 1234);
         chmod((f / "a.gtl").c_str(), 06755);
       },
       false},
      {"folder that takes no new file",
       [](const auto& f) {
         chown((f / "a.gtl").c_str(), kNobody, kNobody);
         chown(f.Path().c_str(), kNobody, kNobody);
         chmod(f.Path().c_str(), 0555);
       },
       true},
      {"colleague's file in a shared sticky folder",
       [](const auto& f) {
         chown((f / "a.gtl").c_str(), 0, kColleagues);
         chmod((f / "a.gtl").c_str(), 0664);
         chmod(f.Path().c_str(), 01777);
       },
       true},
  };
  for (const auto& [name, arrange, as_nobody] : cases) {
    ScratchFolder f;
    chmod(f.Path().c_str(), 0777);
    f.Write("a.gtl", "%FSDAX24Y24*%\n");
    arrange(f);
    struct stat before {};
    stat((f / "a.gtl").c_str(), &before);
    const auto run = [&f] { return RunCamfix({.folder = f.Path(), .input = "\n\n"}).exit_code; };
    EXPECT_EQ(as_nobody ? AsNobody(run) : run(), 0) << name;
    struct stat after {};
    stat((f / "a.gtl").c_str(), &after);
    EXPECT_EQ(f.Read("a.gtl"), "%FSLAX24Y24*%\r\n") << name;
    EXPECT_EQ(after.st_uid, before.st_uid) << name;
    EXPECT_EQ(after.st_gid, before.st_gid) << name;
    EXPECT_EQ(after.st_mode, before.st_mode) << name;
    EXPECT_EQ(after.st_nlink, before.st_nlink) << name;
    chmod(f.Path().c_str(), 0777);
    EXPECT_EQ(f.Listing(), before.st_nlink > 1 ? "a.gtl a.keep " : "a.gtl ") << name;
  }
}

TEST_F(SaveTest, DiskFullWhileRewritingInPlaceKeepsTheOriginal) {
  const std::string original(300, 'x');  // grows by its CR LF beyond the limit
  folder.Write("big.gtl", original);
  link((folder / "big.gtl").c_str(), (folder / "big.keep").c_str());
  const auto staged = StagedFiles();
  ExpectReport(Run(301), "EWriteError", "Stream write error.");
  EXPECT_EQ(folder.Read("big.gtl"), original);
  EXPECT_EQ(folder.Listing(), "big.gtl big.keep ");
  EXPECT_EQ(StagedFiles(), staged);
}

TEST_F(SaveTest, FileChangedWhileReadIsLeftToTheOtherProgram) {
  const BigGerber big(64);
  folder.Write("big.gtl", big.before);
  CamfixProcess camfix({.folder = folder.Path(), .input = "\n\n"});
  std::ofstream appender(folder / "big.gtl", std::ios::binary | std::ios::app);
  std::string appended;
  while (!camfix.HasEnded()) {
    appender << "G04*\n" << std::flush;
    appended += "G04*\n";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ExpectReport(camfix.Finish(), "EFCreateError",
               "Cannot create file \"" + (folder / "big.gtl") +
                   "\". It was changed by another program meanwhile.");
  EXPECT_TRUE(folder.Read("big.gtl") == big.before + appended);
  EXPECT_EQ(folder.Listing(), "big.gtl ");
}

// Ctrl+C, SIGTERM or a hang-up during the save of a large file: the file is
// either as it was or wholly repaired, and no temporary file is left.
TEST_F(SaveTest, InterruptionLeavesNoTemporaryFile) {
  const BigGerber big(100);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    for (const bool in_place : {false, true}) {
      ScratchFolder f;
      f.Write("big.gtl", big.before);
      if (in_place) link((f / "big.gtl").c_str(), (f / "big.keep").c_str());
      const auto staged = StagedFiles();
      CamfixProcess camfix({.folder = f.Path(), .input = "x\n", .keep_input_open = true});
      const auto open_file = "/proc/" + std::to_string(camfix.Pid()) + "/fd";
      for (bool reading = false; !reading && !camfix.HasEnded();) {
        std::error_code ignored;
        for (const auto& fd : std::filesystem::directory_iterator(open_file, ignored)) {
          reading = reading || std::filesystem::read_symlink(fd, ignored) == f / "big.gtl";
        }
      }
      kill(camfix.Pid(), signal);
      EXPECT_EQ(camfix.Finish().exit_code, 128 + signal);
      const auto now = f.Read("big.gtl");
      EXPECT_TRUE(now == big.before || now == big.after) << signal;
      EXPECT_EQ(f.Listing(), in_place ? "big.gtl big.keep " : "big.gtl ") << signal;
      EXPECT_EQ(StagedFiles(), staged) << signal;
    }
  }
}

}  // namespace
