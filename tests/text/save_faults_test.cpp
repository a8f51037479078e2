#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/resource.h>
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
  int killed = 0;       // the process ends by this signal, which `before` sent
  unsigned quirks = 0;  // how the system misbehaves for the whole save (Quirk)
  uid_t owner = 0;      // of the file, which it keeps
  bool planted = false;  // another user made a file under the staged copy's name
  int lines = 60'000;   // of the file (and of b.gtl)
  // SavePair rows: b.gtl follows a.gtl in the same pass.
  bool pair = false;
  bool second_in_place = false;  // b.gtl has a second link: it is rewritten in place
  bool second_changed = false;   // listed before another program replaced it
  bool second_is_first = false;  // b.gtl is another name of a.gtl
  After second_after = After::kOld;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// What the system does for the whole save: refuses a write lease (as for a
// file open elsewhere) or a reservation beyond the end (as FUSE), takes a
// chown without making it (as a FUSE folder), has no /proc, or has no room
// past the file's old end.
enum Quirk : unsigned {
  kNoLease = 1,
  kNoReservation = 2,
  kChownIgnored = 4,
  kNoProc = 8,
  kFullPastTheOldEnd = 16
};

const Row* armed = nullptr;
off_t old_end = 0;  // of the file being saved

bool Has(Quirk quirk) { return armed != nullptr && (armed->quirks & quirk) != 0; }
bool Hidden(const char* path) { return Has(kNoProc) && std::string_view(path).starts_with("/proc/"); }
std::atomic<int> calls = 0;  // the writer thread counts its writes too
std::size_t read_limit = SIZE_MAX;  // the most a read brings: a short read

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
WRAP(ssize_t, read, (int fd, void* data, size_t count), fd, data, std::min(count, read_limit))
WRAP(ssize_t, write, (int fd, const void* data, size_t count), fd, data, count)
ssize_t __real_pwrite(int fd, const void* data, size_t count, off_t at);
ssize_t __wrap_pwrite(int fd, const void* data, size_t count, off_t at) {
  if (Has(kFullPastTheOldEnd) && at + static_cast<off_t>(count) > old_end) {
    errno = ENOSPC;
    return -1;
  }
  return Strikes(Call::pwrite, fd) ? -1 : __real_pwrite(fd, data, count, at);
}
WRAP(int, fsync, (int fd), fd)
WRAP(int, sync_file_range, (int fd, off64_t at, off64_t count, unsigned flags), fd, at, count,
     flags)
WRAP(int, renameat2,
     (int from_folder, const char* from, int to_folder, const char* to, unsigned flags),
     from_folder, from, to_folder, to, flags)

// The quirks.
int __real_fcntl(int fd, int command, ...);
int __wrap_fcntl(int fd, int command, ...) {
  va_list rest;
  va_start(rest, command);
  void* argument = va_arg(rest, void*);
  va_end(rest);
  if (command == F_SETLEASE && Has(kNoLease)) {
    errno = EAGAIN;
    return -1;
  }
  return __real_fcntl(fd, command, argument);
}
int __real_fallocate(int fd, int mode, off_t at, off_t count);
int __wrap_fallocate(int fd, int mode, off_t at, off_t count) {
  if (!Has(kNoReservation)) return __real_fallocate(fd, mode, at, count);
  errno = EOPNOTSUPP;
  return -1;
}
int __real_fchown(int fd, uid_t owner, gid_t group);
int __wrap_fchown(int fd, uid_t owner, gid_t group) {
  return Has(kChownIgnored) ? 0 : __real_fchown(fd, owner, group);
}
int __real_open(const char* path, int flags, ...);
int __wrap_open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  if (!Hidden(path)) return __real_open(path, flags, mode);
  errno = ENOENT;
  return -1;
}
int __real_access(const char* path, int mode);
int __wrap_access(const char* path, int mode) {
  if (!Hidden(path)) return __real_access(path, mode);
  errno = ENOENT;
  return -1;
}
int __real_linkat(int from_folder, const char* from, int to_folder, const char* to, int flags);
int __wrap_linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) {
  if (!Hidden(from)) return __real_linkat(from_folder, from, to_folder, to, flags);
  errno = ENOENT;
  return -1;
}
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
  if (row.owner != 0) chown((folder / "a.gtl").c_str(), row.owner, row.owner);
  const auto staged = ".camfix-" + std::to_string(getpid()) + "-a.gtl";
  if (row.planted) folder.Write(staged, "planted");
  old_end = static_cast<off_t>(old_text.size());
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
  if (row.killed != 0) {
    EXPECT_EXIT(save(), testing::KilledBySignal(row.killed), "");
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
  struct stat info {};
  EXPECT_EQ(stat((folder / "a.gtl").c_str(), &info) == 0 ? info.st_uid : 0, row.owner);
  if (row.planted) {
    EXPECT_EQ(folder.Read(staged), "planted");
  }
  EXPECT_EQ(RegularFiles(folder.Path()),
            std::string(row.after == After::kKeptAside || row.planted ? staged + " " : "") + "a.gtl " +
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
// A crash signal sent from outside, as a watchdog would, and SIGKILL.
void SendSegv(int /*fd*/) {
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  kill(getpid(), SIGSEGV);
}
void Kill(int /*fd*/) { kill(getpid(), SIGKILL); }
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

// Reads that come back short before the end are topped up: the head test
// sees the whole of a small file, and the file it keeps is left as it was.
std::string seen_head;
TEST(SaveFault, ShortReadsAreToppedUpForTheHeadTest) {
  const std::string text = "M48\nMETRIC\n%\nX1Y1\n";
  ScratchFolder folder;
  folder.Write("a.drl", text);
  platform::FileStamp listed;
  platform::sys::StampOf(folder / "a.drl", listed);
  platform::Background releases;
  SavePass pass(releases);
  read_limit = 3;
  const FileRewrite rewrite(folder / "a.drl", listed, kGerber, pass, [](std::string_view head) {
    seen_head = head;
    return true;
  });
  read_limit = SIZE_MAX;
  EXPECT_EQ(seen_head, text);
  EXPECT_TRUE(rewrite.LeftAsItIs());
  EXPECT_EQ(folder.Read("a.drl"), text);
}

const char* const kKept =
    "EWriteError: Stream write error; the new content is kept in \"{staged}\"";

const char* const kChanged =
    "EFCreateError: Cannot create file \"{file}\". It was changed by another program meanwhile";

const char* const kChangedKept =
    "EFCreateError: Cannot create file \"{file}\". It was changed by another program meanwhile; "
    "the new content is kept in \"{staged}\"";

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
     .raised = "EWriteError: Stream write error in \"{file}\". No space left on device"},
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
     .killed = SIGTERM},
    {.name = "SignalDuringTheRename", .call = Call::renameat2, .before = Terminate,
     .after = After::kNew, .killed = SIGTERM},
    {.name = "CrashSignalFromOutsideDuringTheOverwrite", .call = Call::pwrite, .before = SendSegv,
     .in_place = true, .after = After::kNew, .killed = SIGSEGV},
    // SIGKILL while staging leaves nothing under the staged copy's name.
    {.name = "KilledWhileStaging", .call = Call::write, .nth = 2, .before = Kill, .in_place = true,
     .killed = SIGKILL},
    {.name = "StagedNameTakenByAnother", .nth = 0, .in_place = true,
     .raised = "EWriteError: Stream write error in \"{staged}\". File exists", .planted = true},
    // Without a lease another program's append is seen, and the new content kept.
    {.name = "AppendWithoutALease", .call = Call::pwrite, .nth = 2, .before = Append,
     .in_place = true, .raised = kChangedKept, .after = After::kKeptAside, .quirks = kNoLease},
    // No reservation beyond the end: the new tail is written first, and the
    // full disk fails it before a byte of the file changes.
    {.name = "FullDiskWithoutAReservation", .nth = 0, .in_place = true,
     .raised = "EWriteError: Stream write error in \"{file}\". No space left on device",
     .quirks = kNoReservation | kFullPastTheOldEnd},
    {.name = "ReservationByTheNewTail", .nth = 0, .in_place = true, .after = After::kNew,
     .quirks = kNoReservation},
    // A chown that does not take: the file is rewritten in place and stays the owner's.
    {.name = "ChownIgnored", .nth = 0, .after = After::kNew, .quirks = kChownIgnored,
     .owner = 1234},
    {.name = "NoProc", .nth = 0, .after = After::kNew, .quirks = kNoProc},
    {.name = "NoProcInPlace", .nth = 0, .in_place = true, .after = After::kNew, .quirks = kNoProc},
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
    // The second write is the second staged copy's, still unnamed: the first
    // file is not yet in place, and nothing is left.
    {.name = "SignalWhileSecondIsStaged", .call = Call::write, .nth = 2, .before = Terminate,
     .killed = SIGTERM, .lines = 1, .pair = true, .second_in_place = true},
    // Rewritten in place, the first changes under its second name, which is not read before.
    {.name = "SameFileUnderTwoNames", .nth = 0, .after = After::kNew, .lines = 1, .pair = true,
     .second_is_first = true, .second_after = After::kNew},
};
// clang-format on

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Rows, SaveFault, testing::ValuesIn(kRows), kRowName);
INSTANTIATE_TEST_SUITE_P(Rows, SavePair, testing::ValuesIn(kPairRows), kRowName);

}  // namespace
