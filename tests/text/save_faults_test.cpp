#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "support/scratch_folder.h"
#include "text/exceptions.h"
#include "text/file_stream.h"

// The save's failures, made by the system calls themselves: the program is
// linked with --wrap for the calls below, and each goes through unless the
// row's fault strikes.
namespace {

enum class Call { read, write, pwrite, fsync, sync_file_range, renameat2 };

// What the file holds at the end; kKeptAside: the fault came after it began to
// change, and the staged copy holds the new content; kAppended, kChanged: what
// another program made of it.
enum class After { kOld, kEmptied, kKeptAside, kNew, kAppended, kChanged };

struct Row {
  const char* name;
  Call call = Call::read;
  int nth = 1;    // its nth call, those on the console (descriptors 0-2) not counted; 0: none
  int error = 0;  // what it fails with; 0: it goes through after `before`
  void (*before)(int fd) = nullptr;
  bool in_place = false;  // a second link makes the save overwrite the file
  // {file}: the file's full path, {staged}: the staged copy's, {second}: b.gtl's
  const char* raised = "";
  After after = After::kOld;
  bool killed = false;  // the process ends by the SIGTERM that `before` raised
  int lines = 60'000;   // of the file (and of b.gtl)
  // SavePair rows: b.gtl follows a.gtl in the same pass.
  bool pair = false;
  bool second_in_place = false;  // the first file is settled before it is made
  bool second_changed = false;   // listed before another program replaced it
  bool second_is_first = false;  // b.gtl is another name of a.gtl
  After second_after = After::kOld;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const Row* armed = nullptr;
std::atomic<int> calls = 0;  // the writer thread counts its writes too

bool Strikes(Call call, int fd, const auto&... /*rest*/) {
  if (armed == nullptr || call != armed->call || (fd >= 0 && fd <= 2)) return false;
  if (++calls != armed->nth) return false;
  if (armed->before != nullptr) armed->before(fd);
  errno = armed->error;
  return armed->error != 0;
}

}  // namespace

// __wrap_X stands in for X wherever camfix_core calls it; __real_X is X.
#define WRAP(type, name, parameters, ...)                                      \
  type __real_##name parameters;                                               \
  type __wrap_##name parameters {                                              \
    return Strikes(Call::name, __VA_ARGS__) ? -1 : __real_##name(__VA_ARGS__); \
  }
extern "C" {
WRAP(ssize_t, read, (int fd, void* data, size_t count), fd, data, count)
WRAP(ssize_t, write, (int fd, const void* data, size_t count), fd, data, count)
WRAP(ssize_t, pwrite, (int fd, const void* data, size_t count, off_t at), fd, data, count, at)
WRAP(int, fsync, (int fd), fd)
WRAP(int, sync_file_range, (int fd, off64_t at, off64_t count, unsigned flags), fd, at, count,
     flags)
WRAP(int, renameat2,
     (int from_folder, const char* from, int to_folder, const char* to, unsigned flags),
     from_folder, from, to_folder, to, flags)
}

namespace {

const Conversion kGerber{true, &platform::kNoLeadBytes, false, {}};

std::string Replaced(std::string text, const std::string& field, const std::string& by) {
  const auto at = text.find(field);
  return at == std::string::npos ? text : text.replace(at, field.size(), by);
}

// The save of a.gtl (then b.gtl) in one pass with the fault of `row` armed.
// The file is larger than one read and one block of the overwrite, so that a
// fault can strike half-way. Of a pair, the first is made durable while the
// second streams, and whatever the first raises comes before anything of the
// second.
void Check(const Row& row) {
  std::string old_text = "%FSDAX24Y24*%\n";
  std::string new_text = "%FSLAX24Y24*%\r\n";
  for (int line = 0; line < row.lines; ++line) {
    old_text += "X012345Y067890D01*\n";
    new_text += "X012345Y067890D01*\r\n";
  }
  ScratchFolder folder;
  folder.Write("a.gtl", old_text);
  if (row.pair && !row.second_is_first) folder.Write("b.gtl", old_text);
  if (row.second_is_first) link((folder / "a.gtl").c_str(), (folder / "b.gtl").c_str());
  if (row.in_place) link((folder / "a.gtl").c_str(), (folder / "a.keep").c_str());
  if (row.second_in_place) link((folder / "b.gtl").c_str(), (folder / "b.keep").c_str());
  platform::FileStamp listed[2];
  platform::sys::StampOf(folder / "a.gtl", listed[0]);
  platform::sys::StampOf(folder / (row.second_changed ? "a.gtl" : "b.gtl"), listed[1]);
  std::string first_once_second_read, raised;
  const auto save = [&] {
    armed = &row;
    calls = 0;
    try {
      platform::Background releases;
      SavePass pass(releases);
      pass.Commit(std::make_unique<FileRewrite>(folder / "a.gtl", listed[0], kGerber, pass));
      if (row.pair) {
        auto second = std::make_unique<FileRewrite>(folder / "b.gtl", listed[1], kGerber, pass);
        first_once_second_read = folder.Read("a.gtl");
        pass.Commit(std::move(second));
      }
      pass.Flush();
    } catch (const Exception& error) {
      raised = std::string(error.ClassName()) + ": " + error.Message();
    }
    armed = nullptr;
  };
  const auto staged = ".camfix-" + std::to_string(getpid()) + "-a.gtl";
  if (row.killed) {
    EXPECT_EXIT(save(), testing::KilledBySignal(SIGTERM), "");
  } else {
    save();
    EXPECT_EQ(raised, Replaced(Replaced(Replaced(row.raised, "{file}", folder / "a.gtl"),
                                        "{staged}", folder / staged),
                               "{second}", folder / "b.gtl"));
    if (row.pair && raised.empty()) {
      EXPECT_EQ(first_once_second_read, new_text);
    }
  }
  const auto expected = [&](After after) {
    if (after == After::kEmptied) return std::string();
    if (after == After::kKeptAside || after == After::kNew) return new_text;
    if (after == After::kAppended) return old_text + "G04*\n";
    if (after == After::kChanged) return old_text.substr(0, 14) + "G04*\n" + old_text.substr(19);
    return old_text;
  };
  EXPECT_TRUE(folder.Read(row.after == After::kKeptAside ? staged : "a.gtl") ==
              expected(row.after));
  if (row.pair) {
    EXPECT_EQ(folder.Read("b.gtl"), expected(row.second_after));
  }
  EXPECT_EQ(RegularFiles(folder.Path()),
            std::string(row.after == After::kKeptAside ? staged + " " : "") + "a.gtl " +
                (row.in_place ? "a.keep " : "") + (row.pair ? "b.gtl " : "") +
                (row.second_in_place ? "b.keep " : ""));
  EXPECT_EQ(StagedFiles(getpid()), "");
}

class SaveFault : public ::testing::TestWithParam<Row> {};
TEST_P(SaveFault, EndsWithItsErrorAndLeavesNoFileBehind) { Check(GetParam()); }
class SavePair : public ::testing::TestWithParam<Row> {};
TEST_P(SavePair, ReportsInFileOrder) { Check(GetParam()); }

void Shrink(int fd) { truncate(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0); }
// To the process, not the calling thread: a writer thread holds it back.
void Terminate(int /*fd*/) { kill(getpid(), SIGTERM); }
// The writer thread holds its first chunk while camfix's own thread reads and
// converts the next ones into the other slots of the ring.
void Stall(int /*fd*/) { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }
// Another program appends to the file, or changes bytes in place and puts the
// modification time back.
void Append(int fd) {
  const int other = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_APPEND);
  EXPECT_EQ(write(other, "G04*\n", 5), 5);
  close(other);
}
void ChangeKeepingTheTime(int fd) {
  struct stat listed {};
  fstat(fd, &listed);
  const int other = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY);
  const timespec times[2] = {{0, UTIME_OMIT}, listed.st_mtim};
  EXPECT_EQ(pwrite(other, "G04*\n", 5, 14) + futimens(other, times), 5);
  close(other);
}

const char* const kKept =
    "EWriteError: Stream write error; the new content is kept in \"{staged}\"";

const char* const kChanged =
    "EFCreateError: Cannot create file \"{file}\". It was changed by another program meanwhile";

const char* const kFsyncFails = "EWriteError: Stream write error in \"{file}\". Input/output error";

// clang-format off
const Row kRows[] = {
    // The read that would find the end fails: no later check notices it.
    {.name = "ReadError", .call = Call::read, .nth = 3, .error = EIO,
     .raised = "EReadError: Stream read error"},
    {.name = "FileShrinksWhileRead", .call = Call::read, .nth = 2, .before = Shrink,
     .raised = "EReadError: Stream read error", .after = After::kEmptied},
    {.name = "FileGrowsWhileRead", .call = Call::read, .nth = 2, .before = Append,
     .raised = kChanged, .after = After::kAppended},
    {.name = "FileChangedWhileReadKeepsItsTime", .call = Call::read, .nth = 2,
     .before = ChangeKeepingTheTime, .raised = kChanged, .after = After::kChanged},
    {.name = "WriteErrorMidStream", .call = Call::write, .nth = 2, .error = ENOSPC,
     .raised = "EWriteError: Stream write error"},
    {.name = "WriteErrorInPlace", .call = Call::write, .nth = 2, .error = ENOSPC, .in_place = true,
     .raised = "EWriteError: Stream write error in \"{staged}\". No space left on device"},
    {.name = "FsyncFails", .call = Call::fsync, .error = EIO, .raised = kFsyncFails},
    // The staged copy's, its folder's, then the file's own after the overwrite.
    {.name = "StagedFolderSyncFailsInPlace", .call = Call::fsync, .nth = 2, .error = EIO,
     .in_place = true, .raised = kFsyncFails},
    {.name = "FsyncFailsInPlace", .call = Call::fsync, .nth = 3, .error = EIO, .in_place = true,
     .raised = kKept, .after = After::kKeptAside},
    // The file's folder, flushed by the pass after the rename: the file holds the new content.
    {.name = "FolderSyncFails", .call = Call::fsync, .nth = 2, .error = EIO,
     .raised = "EWriteError: Stream write error; the new content is kept in \"{file}\"",
     .after = After::kNew},
    // The wait for the writeback 32 MiB behind: the last that hears of its error.
    // The first such wait comes once 36 MiB are written.
    {.name = "WritebackFails", .call = Call::sync_file_range, .nth = 10, .error = EIO,
     .raised = "EWriteError: Stream write error", .lines = 1'900'000},
    // Six chunks through a ring of four slots, the first held up on its way out.
    {.name = "WriterStalls", .call = Call::write, .before = Stall, .after = After::kNew,
     .lines = 300'000},
    {.name = "RenameRefused", .call = Call::renameat2, .error = EPERM,
     .raised = "EWriteError: Stream write error in \"{file}\". Operation not permitted"},
    {.name = "OverwriteFailsHalfWay", .call = Call::pwrite, .nth = 2, .error = ENOSPC,
     .in_place = true, .raised = kKept, .after = After::kKeptAside},
    // A signal while the file is staged removes the staged copy; one during the
    // rename is held off until the file is whole.
    {.name = "SignalWhileStaging", .call = Call::write, .before = Terminate, .in_place = true,
     .killed = true},
    {.name = "SignalDuringTheRename", .call = Call::renameat2, .before = Terminate,
     .after = After::kNew, .killed = true},
};

const Row kPairRows[] = {
    {.name = "BothNew", .nth = 0, .after = After::kNew, .lines = 1, .pair = true,
     .second_after = After::kNew},
    {.name = "SecondChanged", .nth = 0, .raised = "EFCreateError: Cannot create file \"{second}\". "
     "It was changed by another program meanwhile", .after = After::kNew, .lines = 1, .pair = true,
     .second_changed = true},
    {.name = "FirstFsyncFails", .call = Call::fsync, .error = EIO, .raised = kFsyncFails, .lines = 1,
     .pair = true},
    {.name = "FirstFailsBeforeSecondChanged", .call = Call::fsync, .error = EIO,
     .raised = kFsyncFails, .lines = 1, .pair = true, .second_changed = true},
    {.name = "FirstFailsBeforeSecondIsStaged", .call = Call::fsync, .error = EIO,
     .raised = kFsyncFails, .lines = 1, .pair = true, .second_in_place = true},
    // The second write is the second staged copy's: the interruption removes it.
    {.name = "SignalWhileSecondIsStaged", .call = Call::write, .nth = 2, .before = Terminate,
     .after = After::kNew, .killed = true, .lines = 1, .pair = true, .second_in_place = true},
    // Rewritten in place, the first changes under its second name, which is not read before.
    {.name = "SameFileUnderTwoNames", .nth = 0, .after = After::kNew, .lines = 1, .pair = true,
     .second_is_first = true, .second_after = After::kNew},
};
// clang-format on

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Rows, SaveFault, testing::ValuesIn(kRows), kRowName);
INSTANTIATE_TEST_SUITE_P(Rows, SavePair, testing::ValuesIn(kPairRows), kRowName);

}  // namespace
