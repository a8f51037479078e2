#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

#include "e2e/expectations.h"

namespace {

namespace fs = std::filesystem;

// Owners, links and signals are the Linux build's; other owners need root.
class Save : public ::testing::TestWithParam<Row> {
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
// that owner, group, mode, links and attributes stay: an ACL entry that
// denies a user, which the rename copies, or an attribute the colleague cannot
// copy, which takes the in-place path.
std::vector<Row> SaveRows() {
  const RunOptions colleague = {.input = "\n\n", .as_colleague = true};
  const Files before = {{"a.gtl", "%FSDAX24Y24*%\n"}};
  const std::string fsl = "%FSLAX24Y24*%\r\n";
  const Files after = {{"a.gtl", fsl}};
  const auto out = Repaired(GerberLines("a.gtl", 14));
  const Files planted = {{"gerber.bat", "echo planted > marker\n"}};
  // clang-format off
  return {
      {.name = "HardLink", .before = before, .out = out, .changes = {{"a.gtl", fsl}, {"a.keep", fsl}},
       .arrange = [](const std::string& work) { link((work + "/a.gtl").c_str(), (work + "/a.keep").c_str()); }},
      // Nothing to reserve room for: the empty file stays as it is.
      {.name = "EmptyFileWithASecondLink", .before = {{"e.gtl", ""}}, .out = Repaired(GerberLines("e.gtl", 0)),
       .changes = {{"e.keep", ""}},
       .arrange = [](const std::string& work) { link((work + "/e.gtl").c_str(), (work + "/e.keep").c_str()); }},
      {.name = "SetIdBitsAsRoot", .before = before, .out = out, .changes = after,
       .arrange = [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), 1234, 1234), chmod((work + "/a.gtl").c_str(), 06755);
       }},
      {.name = "FolderThatTakesNoNewFile", .options = colleague, .before = before, .out = out, .changes = after,
       .arrange = [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), kNobody, kNobody), chown(work.c_str(), kNobody, kNobody);
         chmod(work.c_str(), 0555);
       }},
      {.name = "ColleaguesFileInASharedStickyFolder", .options = colleague, .before = before, .out = out,
       .changes = after, .arrange = [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), 0, kColleagues), chmod((work + "/a.gtl").c_str(), 0664);
         chmod(work.c_str(), 01777);
       }},
      {.name = "FolderThatCannotBeListed", .options = colleague, .exit_code = 1, .out = kBanner + "\n\r\n",
       .err = "Cannot open file \"{work}\". Permission denied.", .error = "EFOpenError",
       .arrange = [](const std::string& work) { chmod(work.c_str(), 0333); }},
      {.name = "AclDenyEntryUserAttributeAndInodeFlags", .before = before, .out = out, .changes = after,
       .arrange = [](const std::string& work) {
         setxattr((work + "/a.gtl").c_str(), "user.camfix", "x", 1, 0);
         std::system(("setfacl -m u:nobody:--- " + work + "/a.gtl && chattr +dA " + work + "/a.gtl").c_str());
       }},
      // The colleague cannot set a security attribute on a new file.
      {.name = "AttributeTheUserCannotSet", .options = colleague, .before = before, .out = out,
       .changes = after, .arrange = [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), kNobody, kNobody), chmod(work.c_str(), 0777);
         setxattr((work + "/a.gtl").c_str(), "security.camfix", "x", 1, 0);
       }},
      // The system drops a file capability on every write, and set-id bits on
      // a write by another user: root puts the capability back; a colleague,
      // who could not set the bits again, is refused before anything changes.
      {.name = "CapabilityOfAFileWithASecondLink", .before = before, .out = out,
       .changes = {{"a.gtl", fsl}, {"a.keep", fsl}}, .arrange = [](const std::string& work) {
         link((work + "/a.gtl").c_str(), (work + "/a.keep").c_str());
         const std::uint32_t net_raw[5] = {0x02000001, 1u << 13, 0, 0, 0};  // cap_net_raw+ep
         setxattr((work + "/a.gtl").c_str(), "security.capability", net_raw, sizeof net_raw, 0);
       }},
      {.name = "SetIdBitsOfAColleaguesFile", .options = colleague, .before = before, .exit_code = 1,
       .out = kBanner + "\n\r\n" + GerberLines("a.gtl", 14),
       .err = "Cannot create file \"{work}/a.gtl\". Operation not permitted.", .error = "EFCreateError",
       .arrange = [](const std::string& work) {
         chown((work + "/a.gtl").c_str(), 0, kColleagues), chmod((work + "/a.gtl").c_str(), 06775);
         chmod(work.c_str(), 01777);
       }},
      // Only a batch file that no other user could have written is started:
      // the runner's own or root's, which not everyone may write.
      {.name = "StrangersBatchFileInASharedStickyFolderIsNotStarted",
       .before = {{"gerber.bat", "echo mine > marker\n"}, {"GERBER.BAT", "echo planted > marker\n"}},
       .out = Repaired(""), .err = "camfix: GERBER.BAT was not started: its owner is nobody, not you or root\r\n",
       .changes = {{"marker", "mine\n"}}, .arrange = [](const std::string& work) {
         chown((work + "/GERBER.BAT").c_str(), kNobody, kNobody), chmod(work.c_str(), 01777);
       }},
      {.name = "StrangersBatchFileAloneIsNotStarted", .before = {{"gerber.bat", "echo planted > marker\n"}},
       .out = Repaired(""), .err = "camfix: gerber.bat was not started: its owner is nobody, not you or root\r\n",
       .arrange = [](const std::string& work) { chown((work + "/gerber.bat").c_str(), kNobody, kNobody); }},
      {.name = "BatchFileEveryoneMayWriteIsNotStarted", .before = {{"gerber.bat", "echo planted > marker\n"}},
       .out = Repaired(""), .err = "camfix: gerber.bat was not started: everyone may write it (owner root)\r\n",
       .arrange = [](const std::string& work) { chmod((work + "/gerber.bat").c_str(), 0666); }},
      {.name = "OwnBatchFileTheGroupMayWriteIsStarted", .options = colleague,
       .before = {{"gerber.bat", "echo launched > marker\n"}}, .out = Repaired(""),
       .changes = {{"marker", "launched\n"}}, .arrange = [](const std::string& work) {
         chown((work + "/gerber.bat").c_str(), kNobody, kColleagues), chmod((work + "/gerber.bat").c_str(), 0664);
         chmod(work.c_str(), 01777);
       }},
      // Nor from a folder in which another user could rename a file of the
      // runner's that holds their text (camfix's own staged copy) to
      // gerber.bat: one that others may write but that is not sticky, or one
      // of another owner, who may rename anything in it.
      {.name = "OwnBatchFileInAFolderEveryoneMayWriteIsNotStarted", .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: everyone may write the folder, which is not sticky\r\n",
       .arrange = [](const std::string& work) { chmod(work.c_str(), 0777); }},
      {.name = "OwnBatchFileInAFolderItsGroupMayWriteIsNotStarted", .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: group gid 4242 may write the folder, which is not sticky\r\n",
       .arrange = [](const std::string& work) { chown(work.c_str(), 0, kColleagues), chmod(work.c_str(), 02770); }},
      {.name = "OwnBatchFileInAStickyFolderOfAnotherUserIsNotStarted", .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: the folder's owner is nobody, not you or root\r\n",
       .arrange = [](const std::string& work) { chown(work.c_str(), kNobody, kNobody), chmod(work.c_str(), 01777); }},
      // The group of a folder made with a umask of 002 is the runner's private group.
      {.name = "OwnBatchFileInAFolderTheRunnersPrivateGroupMayWriteIsStarted", .before = planted,
       .out = Repaired(""), .changes = {{"marker", "planted\n"}},
       .arrange = [](const std::string& work) { chmod(work.c_str(), 0775); }},
      // Unless an ACL entry lets another user or group write it, or another
      // user has the group as primary group (a passwd with one such user).
      {.name = "OwnBatchFileInAPrivateGroupFolderAnAclLetsAnotherUserWriteIsNotStarted", .before = planted,
       .out = Repaired(""), .err = "camfix: gerber.bat was not started: the folder's ACL lets nobody write it\r\n",
       .arrange = [](const std::string& work) { std::system(("chmod 0770 " + work + " && setfacl -m u:0:rwx,u:nobody:rwx " + work).c_str()); }},
      {.name = "OwnBatchFileInAPrivateGroupFolderAnAclLetsAGroupWriteIsNotStarted", .before = planted,
       .out = Repaired(""), .err = "camfix: gerber.bat was not started: the folder's ACL lets group root write it\r\n",
       .arrange = [](const std::string& work) { std::system(("chmod 0770 " + work + " && setfacl -m g:0:rwx " + work).c_str()); }},
      {.name = "OwnBatchFileInAFolderOfAGroupAnotherUserHasAsPrimaryGroupIsNotStarted",
       .options = {.input = "\n\n", .launcher = {"unshare", "-m", "sh", "-c", "mount --bind passwd /etc/passwd && exec \"$@\"", "sh"}},
       .before = {{"gerber.bat", "echo planted > marker\n"}, {"passwd", "root:x:0:0::/root:/bin/sh\nspy:x:3403:0::/:/bin/sh\n"}},
       .out = Repaired(""), .err = "camfix: gerber.bat was not started: group root may write the folder, which is not sticky\r\n",
       .arrange = [](const std::string& work) { chmod(work.c_str(), 0775); }},
      // Nor while another program has it open for writing, nor as another
      // user than the one the shell runs it as.
      {.name = "OwnBatchFileAnotherProgramHasOpenForWritingIsNotStarted",
       .options = {.input = "\n\n", .launcher = {"sh", "-c", "exec 3>>gerber.bat && exec \"$@\"", "sh"}},
       .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: another program has it open for writing\r\n"},
      {.name = "BatchFileOfARunWhoseRealAndEffectiveUsersDifferIsNotStarted",
       .options = {.input = "\n\n", .launcher = {"setpriv", "--euid=65534"}}, .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: your real and effective user or group ids differ\r\n",
       .arrange = [](const std::string& work) { chmod(work.c_str(), 0755); }},
      // Nor a file that another user may write through another name, a group
      // the runner is not in, or an ACL entry the mask lets write.
      {.name = "OwnBatchFileWithASecondLinkIsNotStarted", .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: it has 2 hard links (owner root)\r\n",
       .changes = {{"g.keep", "echo planted > marker\n"}}, .arrange = [](const std::string& work) {
         link((work + "/gerber.bat").c_str(), (work + "/g.keep").c_str());
       }},
      {.name = "OwnBatchFileAGroupTheRunnerIsNotInMayWriteIsNotStarted", .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: group gid 4242, which you are not in, may write it (owner root)\r\n",
       .arrange = [](const std::string& work) {
         chown((work + "/gerber.bat").c_str(), 0, kColleagues), chmod((work + "/gerber.bat").c_str(), 0664);
       }},
      {.name = "OwnBatchFileAnAclEntryLetsAnotherUserWriteIsNotStarted", .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: its ACL lets nobody write it (owner root)\r\n",
       .arrange = [](const std::string& work) { std::system(("setfacl -m u:nobody:rw " + work + "/gerber.bat").c_str()); }},
      {.name = "OwnBatchFileAnAclEntryLetsAnotherGroupWriteIsNotStarted", .before = planted, .out = Repaired(""),
       .err = "camfix: gerber.bat was not started: its ACL lets group gid 4242 write it (owner root)\r\n",
       .arrange = [](const std::string& work) { std::system(("setfacl -m g:4242:rw " + work + "/gerber.bat").c_str()); }},
      {.name = "OwnBatchFileWhoseAclMaskTakesWriteAwayIsStarted", .before = planted, .out = Repaired(""),
       .changes = {{"marker", "planted\n"}}, .arrange = [](const std::string& work) {
         std::system(("setfacl -m u:nobody:rw,g:4242:rw,m::r " + work + "/gerber.bat").c_str());
       }},
      {.name = "FileTheUserCannotRead", .options = colleague, .before = before, .exit_code = 1,
       .out = kBanner + "\n\r\n", .err = "Cannot open file \"{work}/a.gtl\". Permission denied.",
       .error = "EFOpenError", .arrange = [](const std::string& work) {
         chmod((work + "/a.gtl").c_str(), 0600), chmod(work.c_str(), 0755);
       }},
  };
  // clang-format on
}
ROW_TESTS(Save, SaveRows);

// A big file with a second link, its repair, and a run of camfix on it that
// has begun to overwrite it in place (its write time has moved; the file is
// not opened, which would wait for camfix's lease).
struct BigFileInPlace {
  std::string big = "%FSDAX24Y24*%\n", repaired = "%FSLAX24Y24*%\r\n";
  BigFileInPlace() {
    while (big.size() < (std::size_t{32} << 20)) {
      big += "X012345Y067890D01*\n";
      repaired += "X012345Y067890D01*\r\n";
    }
  }
  void StartOverwrite(ScratchFolder& f, std::unique_ptr<CamfixProcess>& camfix) const {
    f.Write("big.gtl", big);
    link((f / "big.gtl").c_str(), (f / "big.keep").c_str());
    const auto written = fs::last_write_time(f / "big.gtl");
    camfix = std::make_unique<CamfixProcess>(
        RunOptions{.folder = f.Path(), .input = "x\n", .keep_input_open = true});
    while (fs::last_write_time(f / "big.gtl") == written && !camfix->HasEnded()) {
    }
  }
};

// Ctrl+C, Ctrl+\, SIGTERM, a hang-up, SIGUSR1, SIGALRM, a real-time signal,
// or a crash signal sent from outside while a file with a second link is
// overwritten in place: it is held off until the file is whole, and nothing
// is left, beside it or staged. (The unit fault rows Signal* prove the holds
// while staging and renaming.)
TEST_F(Save, SignalDuringTheOverwriteInPlaceLeavesTheFileWhole) {
  const BigFileInPlace file;
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);  // SIGQUIT would leave one in the folder
  for (const int signal :
       {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM, SIGRTMIN, SIGSEGV, SIGBUS}) {
    ScratchFolder f;
    std::unique_ptr<CamfixProcess> started;
    file.StartOverwrite(f, started);
    auto& camfix = *started;
    const auto& repaired = file.repaired;
    kill(camfix.Pid(), signal);
    EXPECT_EQ(camfix.Finish().exit_code, 128 + signal) << signal;
    EXPECT_TRUE(f.Read("big.gtl") == repaired) << signal;
    EXPECT_EQ(RegularFiles(f.Path()), "big.gtl big.keep ") << signal;
    EXPECT_EQ(StagedFiles(camfix.Pid()), "") << signal;
  }
}

// Started with a hang-up or Ctrl+C ignored (nohup, a shell's background job),
// camfix leaves it ignored: sent during the overwrite, it ends nothing.
TEST_F(Save, SignalIgnoredAtStartStaysIgnored) {
  const BigFileInPlace file;
  for (const int signal : {SIGHUP, SIGINT}) {
    ScratchFolder f;
    std::unique_ptr<CamfixProcess> camfix;
    const auto before = std::signal(signal, SIG_IGN);  // camfix inherits it
    file.StartOverwrite(f, camfix);
    std::signal(signal, before);
    kill(camfix->Pid(), signal);
    camfix->Feed("x\n");
    EXPECT_EQ(camfix->Finish().exit_code, 0) << signal;
    EXPECT_TRUE(f.Read("big.gtl") == file.repaired) << signal;
  }
}

// Another program that opens the file to append a line while camfix
// overwrites it in place waits until the file is whole (camfix holds a write
// lease), and its line stays.
TEST_F(Save, AnotherProgramsWriteDuringTheOverwriteWaits) {
  const BigFileInPlace file;
  ScratchFolder f;
  std::unique_ptr<CamfixProcess> camfix;
  file.StartOverwrite(f, camfix);
  const int other = open((f / "big.gtl").c_str(), O_WRONLY | O_APPEND);
  EXPECT_EQ(write(other, "G04*\n", 5), 5);
  close(other);
  camfix->Feed("x\n");
  EXPECT_EQ(camfix->Finish().exit_code, 0);
  EXPECT_TRUE(f.Read("big.gtl") == file.repaired + "G04*\n");
  EXPECT_EQ(RegularFiles(f.Path()), "big.gtl big.keep ");
}

// A writer of the folder keeps exchanging the name of its own x.gtl (with a
// second link for the in-place path) with a link to a root-only file, a device
// or a FIFO while root runs camfix there: every run ends, the root-only file
// keeps its bytes, and the user's file stays the user's and never gets them.
TEST_F(Save, NameSwappedMeanwhileIsLeftAlone) {
  const std::string secret = "%FSDAX24Y24*%\nsecret\n";
  folder.Write("victim", secret);
  chmod((folder / "victim").c_str(), 0600);
  const auto victim = Identity(folder / "victim");
  for (const auto& [in_place, kind] :
       {std::pair{false, S_IFLNK}, {true, S_IFLNK}, {false, S_IFCHR}, {false, S_IFIFO}}) {
    ScratchFolder work;
    chmod(work.Path().c_str(), 0777);
    const auto mine = work / "x.gtl", other = work / ".x.gtl";
    work.Write("x.gtl", "%FSDAX24Y24*%\nmine\n");
    chown(mine.c_str(), kNobody, kNobody);
    if (in_place) link(mine.c_str(), (work / "x.keep").c_str());
    const auto user = Identity(mine);
    kind == S_IFLNK ? symlink((folder / "victim").c_str(), other.c_str())
                    : mknod(other.c_str(), kind | 0666, makedev(1, 5));  // /dev/zero's numbers
    std::atomic<bool> done = false;
    std::thread swapper([&] {
      while (!done) renameat2(AT_FDCWD, mine.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
    });
    int exit_code = 0;
    for (int run = 0; run < 25 && exit_code <= 1; ++run) {
      CamfixProcess camfix({.folder = work.Path(), .input = "\n\n"});
      exit_code = camfix.Finish().exit_code;
      EXPECT_EQ(StagedFiles(camfix.Pid()), "");
    }
    done = true;
    swapper.join();
    SCOPED_TRACE(kind);
    EXPECT_LE(exit_code, 1);
    EXPECT_TRUE(folder.Read("victim") == secret);
    EXPECT_EQ(Identity(folder / "victim"), victim);
    // A run that lost the race may leave the user's file under a temporary
    // name rather than remove what it did not make; nothing is lost.
    int users = 0;
    for (const auto& entry : fs::directory_iterator(work.Path())) {
      if (entry.symlink_status().type() != fs::file_type::regular) continue;
      EXPECT_EQ(Identity(entry.path()), user);
      const auto text = work.Read(entry.path().filename());
      EXPECT_EQ(text.find("secret"), std::string::npos);
      users += text.find("mine") != std::string::npos;
    }
    EXPECT_GE(users, 1);
  }
}

// A real full disk on the in-place path, a small ext4 mounted from a file,
// with room left for part of what the file grows by. The new content is
// staged beside the file, or, where the folder takes no new file (immutable,
// even for root), in /var/tmp.
TEST_F(Save, FullDiskKeepsEveryByteOfAFileRewrittenInPlace) {
  ScratchFolder disk;
  const auto image = disk / "image", mount_point = disk / "m";
  const std::shared_ptr<void> unmount(nullptr,
                                      [&](void*) { umount2(mount_point.c_str(), MNT_DETACH); });
  if (std::system(("truncate -s 8M " + image + " && mkfs.ext4 -q -F -m 0 " + image + " && mkdir " +
                   mount_point + " && mount -o loop " + image + " " + mount_point)
                      .c_str()) != 0) {
    GTEST_SKIP() << "no ext4 loop mount here (needs mkfs.ext4 and a loop device)";
  }
  for (const bool immutable : {false, true}) {
    const std::string sub = immutable ? "m/immutable" : "m/open", work = disk / sub;
    const auto file = work + "/big.gtl";
    fs::create_directory(work);
    for (std::ofstream gerber(file, std::ios::binary); gerber << "X012345Y067890D01*\n";) {
    }
    fs::resize_file(file, fs::file_size(file) - 50'000);
    link(file.c_str(), (work + "/big.keep").c_str());
    if (immutable) std::system(("chattr +i " + work).c_str());
    const auto original = disk.Read(sub + "/big.gtl");
    const auto written = fs::last_write_time(file);  // what make and rsync compare
    CamfixProcess camfix({.folder = work, .input = "\n\n"});
    const auto result = camfix.Finish();
    SCOPED_TRACE(immutable);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_TRUE(std::regex_search(result.err, std::regex("^Exception E(Write|FCreate)Error ")));
    EXPECT_NE(result.err.find(work), std::string::npos) << result.err;
    EXPECT_TRUE(disk.Read(sub + "/big.gtl") == original);
    EXPECT_EQ(fs::last_write_time(file), written);
    EXPECT_EQ(RegularFiles(work), "big.gtl big.keep ");
    EXPECT_EQ(StagedFiles(camfix.Pid()), "");
    if (immutable) std::system(("chattr -i " + work).c_str());
    fs::remove_all(work);
  }
}

}  // namespace
