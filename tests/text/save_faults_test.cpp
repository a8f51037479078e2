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
#include <utility>

#include "platform/file_replacement.h"
#include "support/scratch_folder.h"
#include "text/exceptions.h"
#include "text/file_stream.h"

// The save's failures, made by the system calls themselves: the program is
// linked with --wrap for the calls below, and each goes through unless the
// row's fault strikes: at the first call of its kind on its target.
namespace {

// lease: the request for a write lease.
enum class Call { none, read, write, pwrite, fsync, sync_file_range, renameat2, fallocate, lease };

// The file a call is on: the file being saved, the file its new content is
// written to (the temporary file or the staged copy), or a folder.
enum class On { kFile, kCopy, kFolder };
// Where in that file a read or write starts: anywhere, at the start, past
// it, or at the file's end (the read that finds it).
enum class At { kAnywhere, kStart, kPastStart, kEnd };

// What the file holds at the end; kKeptAside: the fault came after it began to
// change, and the staged copy holds the new content; kAppended, kChanged: what
// another program made of it.
enum class After { kOld, kEmptied, kKeptAside, kNew, kAppended, kChanged };

struct Row {
  const char* name;
  Call call = Call::none;
  On on = On::kFile;
  At at = At::kAnywhere;
  int error = 0;  // what it fails with; 0: it goes through after `before`
  void (*before)(int fd) = nullptr;
  bool in_place = false;  // a second link makes the save overwrite the file
  // {file}: the file's full path, {staged}: the staged copy's
  const char* raised = "";
  After after = After::kOld;
  int killed = 0;        // the process ends by this signal, which `before` sent
  unsigned quirks = 0;   // how the system misbehaves for the whole save (Quirk)
  uid_t owner = 0;       // of the file, which it keeps
  bool planted = false;  // another user made a file under the staged copy's name
  int lines = 60'000;    // of the file
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
struct stat target {};             // the file being saved, as it was listed
std::atomic<bool> struck = false;  // the writer thread writes too

bool Has(Quirk quirk) { return armed != nullptr && (armed->quirks & quirk) != 0; }
bool Hidden(const char* path) {
  return Has(kNoProc) && std::string_view(path).starts_with("/proc/");
}
std::size_t read_limit = SIZE_MAX;  // the most a read brings: a short read

bool IsOn(const struct stat& info, On on) {
  const bool file = info.st_dev == target.st_dev && info.st_ino == target.st_ino;
  if (on == On::kFolder) return S_ISDIR(info.st_mode);
  return S_ISREG(info.st_mode) && file == (on == On::kFile);
}

bool IsAt(off_t offset, const struct stat& info, At at) {
  if (at == At::kStart) return offset == 0;
  if (at == At::kPastStart) return offset > 0;
  return at == At::kAnywhere || offset >= info.st_size;
}

// `offset`: where the call reads or writes; -1 for the descriptor's own.
bool Strikes(Call call, int fd, off_t offset = -1) {
  struct stat info {};
  if (armed == nullptr || call != armed->call || fd <= 2 || fstat(fd, &info) != 0 ||
      !IsOn(info, armed->on)) {
    return false;
  }
  if (offset < 0) offset = lseek(fd, 0, SEEK_CUR);
  if (!IsAt(offset, info, armed->at) || struck.exchange(true)) return false;
  if (armed->before != nullptr) armed->before(fd);
  errno = armed->error;
  return armed->error != 0;
}

}  // namespace

// __wrap_X stands in for X wherever camfix_core calls it; __real_X is X.
extern "C" {
int __real_open(const char* path, int flags, ...);
ssize_t __real_read(int fd, void* data, size_t count);
ssize_t __wrap_read(int fd, void* data, size_t count) {
  return Strikes(Call::read, fd) ? -1 : __real_read(fd, data, std::min(count, read_limit));
}
ssize_t __real_write(int fd, const void* data, size_t count);
ssize_t __wrap_write(int fd, const void* data, size_t count) {
  return Strikes(Call::write, fd) ? -1 : __real_write(fd, data, count);
}
ssize_t __real_pwrite(int fd, const void* data, size_t count, off_t at);
ssize_t __wrap_pwrite(int fd, const void* data, size_t count, off_t at) {
  if (Has(kFullPastTheOldEnd) && at + static_cast<off_t>(count) > target.st_size) {
    errno = ENOSPC;
    return -1;
  }
  return Strikes(Call::pwrite, fd, at) ? -1 : __real_pwrite(fd, data, count, at);
}
int __real_fsync(int fd);
int __wrap_fsync(int fd) { return Strikes(Call::fsync, fd) ? -1 : __real_fsync(fd); }
// Only a call that waits can report an error; the others are hints.
int __real_sync_file_range(int fd, off64_t at, off64_t count, unsigned flags);
int __wrap_sync_file_range(int fd, off64_t at, off64_t count, unsigned flags) {
  const bool waits = (flags & SYNC_FILE_RANGE_WAIT_AFTER) != 0;
  return waits && Strikes(Call::sync_file_range, fd) ? -1
                                                     : __real_sync_file_range(fd, at, count, flags);
}
// On the file it puts a new one in the place of.
int __real_renameat2(int from_folder, const char* from, int to_folder, const char* to,
                     unsigned flags);
int __wrap_renameat2(int from_folder, const char* from, int to_folder, const char* to,
                     unsigned flags) {
  const int fd = __real_open(to, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  const bool strikes = fd >= 0 && Strikes(Call::renameat2, fd, 0);
  if (fd >= 0) close(fd);
  return strikes ? -1 : __real_renameat2(from_folder, from, to_folder, to, flags);
}

// The quirks.
int __real_fcntl(int fd, int command, ...);
int __wrap_fcntl(int fd, int command, ...) {
  va_list rest;
  va_start(rest, command);
  void* argument = va_arg(rest, void*);
  va_end(rest);
  const bool lease = command == F_SETLEASE && argument == reinterpret_cast<void*>(F_WRLCK);
  if ((lease && Strikes(Call::lease, fd, 0)) || (command == F_SETLEASE && Has(kNoLease))) {
    errno = Has(kNoLease) ? EAGAIN : errno;
    return -1;
  }
  return __real_fcntl(fd, command, argument);
}
int __real_fallocate(int fd, int mode, off_t at, off_t count);
int __wrap_fallocate(int fd, int mode, off_t at, off_t count) {
  if (Strikes(Call::fallocate, fd, 0)) return -1;
  if (!Has(kNoReservation)) return __real_fallocate(fd, mode, at, count);
  errno = EOPNOTSUPP;
  return -1;
}
int __real_fchown(int fd, uid_t owner, gid_t group);
int __wrap_fchown(int fd, uid_t owner, gid_t group) {
  return Has(kChownIgnored) ? 0 : __real_fchown(fd, owner, group);
}
int __wrap_open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode =
      (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(rest, mode_t) : 0;
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

// A Gerber file of `lines` lines before and after its repair: larger than one
// read and one block of the overwrite, so that a fault can strike half-way.
struct Texts {
  explicit Texts(int lines) {
    for (int line = 0; line < lines; ++line) {
      old_text += "X012345Y067890D01*\n";
      new_text += "X012345Y067890D01*\r\n";
    }
  }
  std::string Of(After after) const {
    if (after == After::kEmptied) return {};
    if (after == After::kKeptAside || after == After::kNew) return new_text;
    if (after == After::kAppended) return old_text + "G04*\n";
    if (after == After::kChanged) return old_text.substr(0, 14) + "G04*\n" + old_text.substr(19);
    return old_text;
  }
  std::string old_text = "%FSDAX24Y24*%\n";
  std::string new_text = "%FSLAX24Y24*%\r\n";
};

std::string Replaced(std::string text, const std::string& field, const std::string& by) {
  const auto at = text.find(field);
  return at == std::string::npos ? text : text.replace(at, field.size(), by);
}

platform::FileStamp Listed(const std::string& path) {
  platform::FileStamp stamp;
  platform::sys::StampOf(path, stamp);
  return stamp;
}

// Runs `save` and gives what it raised: "CLASS: message", empty for nothing.
template <class Save>
std::string Raised(Save save) {
  try {
    save();
  } catch (const Exception& error) {
    return std::string(error.ClassName()) + ": " + error.Message();
  }
  return {};
}

// The save of a.gtl with the fault of `row` armed.
void Check(const Row& row) {
  const Texts texts(row.lines);
  ScratchFolder folder;
  const auto file = folder / "a.gtl";
  folder.Write("a.gtl", texts.old_text);
  if (row.in_place) link(file.c_str(), (folder / "a.keep").c_str());
  if (row.owner != 0) chown(file.c_str(), row.owner, row.owner);
  const auto staged = ".camfix-" + std::to_string(getpid()) + "-a.gtl";
  if (row.planted) folder.Write(staged, "planted");
  stat(file.c_str(), &target);
  const auto save = [&] {
    armed = &row;
    struck = false;
    const auto raised = Raised([&] {
      platform::Background releases;
      SavePass pass(releases);
      pass.Commit(pass.Rewrite(file, Listed(file), kGerber));
      pass.Flush();
    });
    armed = nullptr;
    return raised;
  };
  if (row.killed != 0) {
    EXPECT_EXIT(save(), testing::KilledBySignal(row.killed), "");
  } else {
    EXPECT_EQ(save(), Replaced(Replaced(row.raised, "{file}", file), "{staged}", folder / staged));
    EXPECT_EQ(struck, row.call != Call::none);  // the call the row names was made
  }
  EXPECT_TRUE(folder.Read(row.after == After::kKeptAside ? staged : "a.gtl") ==
              texts.Of(row.after));
  struct stat info {};
  EXPECT_EQ(stat(file.c_str(), &info) == 0 ? info.st_uid : 0, row.owner);
  if (row.planted) {
    EXPECT_EQ(folder.Read(staged), "planted");
  }
  const bool staged_left = row.after == After::kKeptAside || row.planted;
  EXPECT_EQ(RegularFiles(folder.Path()),
            (staged_left ? staged + " " : "") + "a.gtl " + (row.in_place ? "a.keep " : ""));
  EXPECT_EQ(StagedFiles(getpid()), "");
}

class SaveFault : public ::testing::TestWithParam<Row> {};
TEST_P(SaveFault, EndsWithItsErrorAndLeavesNoFileBehind) { Check(GetParam()); }

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
  platform::Background releases;
  SavePass pass(releases);
  read_limit = 3;
  const auto rewrite =
      pass.Rewrite(folder / "a.drl", Listed(folder / "a.drl"), kGerber, [](std::string_view head) {
        seen_head = head;
        return true;
      });
  read_limit = SIZE_MAX;
  EXPECT_EQ(seen_head, text);
  EXPECT_TRUE(rewrite->LeftAsItIs());
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
    {.name = "ReadError", .call = Call::read, .at = At::kEnd, .error = EIO,
     .raised = "EReadError: Stream read error"},
    {.name = "FileShrinksWhileRead", .call = Call::read, .at = At::kPastStart, .before = Shrink,
     .raised = "EReadError: Stream read error", .after = After::kEmptied},
    {.name = "FileGrowsWhileRead", .call = Call::read, .at = At::kPastStart, .before = Append,
     .raised = kChanged, .after = After::kAppended},
    {.name = "FileChangedWhileReadKeepsItsTime", .call = Call::read, .at = At::kPastStart,
     .before = ChangeKeepingTheTime, .raised = kChanged, .after = After::kChanged},
    {.name = "WriteErrorMidStream", .call = Call::write, .on = On::kCopy, .at = At::kPastStart,
     .error = ENOSPC, .raised = "EWriteError: Stream write error"},
    {.name = "WriteErrorInPlace", .call = Call::write, .on = On::kCopy, .at = At::kPastStart,
     .error = ENOSPC, .in_place = true,
     .raised = "EWriteError: Stream write error in \"{file}\". No space left on device"},
    {.name = "FsyncFails", .call = Call::fsync, .on = On::kCopy, .error = EIO, .raised = kFsyncFails},
    {.name = "StagedFolderSyncFailsInPlace", .call = Call::fsync, .on = On::kFolder, .error = EIO,
     .in_place = true, .raised = kFsyncFails},
    {.name = "FsyncFailsInPlace", .call = Call::fsync, .error = EIO, .in_place = true,
     .raised = kKept, .after = After::kKeptAside},
    // The file's folder, flushed by the pass after the rename: the file holds the new content.
    {.name = "FolderSyncFails", .call = Call::fsync, .on = On::kFolder, .error = EIO,
     .raised = "EWriteError: Stream write error; the new content is kept in \"{file}\"",
     .after = After::kNew},
    // The wait for the writeback 32 MiB behind: the last that hears of its error.
    // The first such wait comes once 36 MiB are written.
    {.name = "WritebackFails", .call = Call::sync_file_range, .on = On::kCopy, .error = EIO,
     .raised = "EWriteError: Stream write error", .lines = 1'900'000},
    // Six chunks through a ring of four slots, the first held up on its way out.
    {.name = "WriterStalls", .call = Call::write, .on = On::kCopy, .at = At::kStart, .before = Stall,
     .after = After::kNew, .lines = 300'000},
    {.name = "RenameRefused", .call = Call::renameat2, .error = EPERM,
     .raised = "EWriteError: Stream write error in \"{file}\". Operation not permitted"},
    {.name = "OverwriteFailsHalfWay", .call = Call::pwrite, .at = At::kPastStart, .error = ENOSPC,
     .in_place = true, .raised = kKept, .after = After::kKeptAside},
    // A signal while the file is staged removes the staged copy; one during the
    // rename is held off until the file is whole.
    {.name = "SignalWhileStaging", .call = Call::write, .on = On::kCopy, .at = At::kStart,
     .before = Terminate, .in_place = true, .killed = SIGTERM},
    {.name = "SignalDuringTheRename", .call = Call::renameat2, .before = Terminate,
     .after = After::kNew, .killed = SIGTERM},
    {.name = "CrashSignalFromOutsideDuringTheOverwrite", .call = Call::pwrite, .at = At::kStart,
     .before = SendSegv, .in_place = true, .after = After::kNew, .killed = SIGSEGV},
    // SIGKILL while staging leaves nothing under the staged copy's name.
    {.name = "KilledWhileStaging", .call = Call::write, .on = On::kCopy, .at = At::kPastStart,
     .before = Kill, .in_place = true, .killed = SIGKILL},
    {.name = "StagedNameTakenByAnother", .in_place = true,
     .raised = "EWriteError: Stream write error in \"{staged}\". File exists", .planted = true},
    // Without a lease another program's append is seen, and the new content kept.
    {.name = "AppendWithoutALease", .call = Call::pwrite, .at = At::kPastStart, .before = Append,
     .in_place = true, .raised = kChangedKept, .after = After::kKeptAside, .quirks = kNoLease},
    // No reservation beyond the end: the new tail is written first, and the
    // full disk fails it before a byte of the file changes.
    // An append just before the file takes its new size is seen, and so is
    // any change before the lease is granted: the file keeps what it has.
    {.name = "AppendBeforeTheNewSize", .call = Call::fallocate, .before = Append,
     .in_place = true, .raised = kChanged, .after = After::kAppended, .quirks = kNoLease},
    {.name = "AppendBeforeTheNewTail", .call = Call::fallocate, .before = Append,
     .in_place = true, .raised = kChanged, .after = After::kAppended,
     .quirks = kNoLease | kNoReservation},
    {.name = "ChangedBeforeTheLease", .call = Call::lease, .before = ChangeKeepingTheTime,
     .in_place = true, .raised = kChanged, .after = After::kChanged},
    // A failed reservation never cuts what another program appended meanwhile.
    {.name = "AppendWhileTheReservationFails", .call = Call::fallocate, .error = ENOSPC,
     .before = Append, .in_place = true, .raised = kChanged, .after = After::kAppended,
     .quirks = kNoLease},
    {.name = "FullDiskWithoutAReservation", .in_place = true,
     .raised = "EWriteError: Stream write error in \"{file}\". No space left on device",
     .quirks = kNoReservation | kFullPastTheOldEnd},
    {.name = "ReservationByTheNewTail", .in_place = true, .after = After::kNew,
     .quirks = kNoReservation},
    // A chown that does not take: the file is rewritten in place and stays the owner's.
    {.name = "ChownIgnored", .after = After::kNew, .quirks = kChownIgnored, .owner = 1234},
    {.name = "NoProc", .after = After::kNew, .quirks = kNoProc},
    {.name = "NoProcInPlace", .in_place = true, .after = After::kNew, .quirks = kNoProc},
};
// clang-format on

const auto kRowName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Rows, SaveFault, testing::ValuesIn(kRows), kRowName);

// The order in which a pass takes its files' steps, against the system's
// replacements with a log of the steps ("begin a", "write a", "flush a",
// "commit a"; "flush folder") and a fault at the step a row names: an error
// the file's commit then reports, as a failed flush or commit does, or an
// action.
class LoggingReplacer : public platform::FileReplacer {
 public:
  LoggingReplacer(std::string fail_at, platform::ErrorCode error, void (*action)())
      : fail_at_(std::move(fail_at)), error_(error), action_(action) {}

  std::unique_ptr<platform::FileReplacement> Begin(
      const std::string& path, const platform::InputFile& original,
      const std::function<void()>& before_naming) override {
    const auto name = path.substr(path.rfind('/') + 1, 1);
    Note("begin " + name);
    return std::make_unique<Replacement>(
        *this, name, platform::SystemReplacer().Begin(path, original, before_naming));
  }
  platform::ErrorCode FlushFolderOf(const std::string& path) override {
    return Note("flush folder") ? error_ : platform::SystemReplacer().FlushFolderOf(path);
  }
  const std::string& Log() const { return log_; }

 private:
  class Replacement : public platform::FileReplacement {
   public:
    Replacement(LoggingReplacer& log, std::string name,
                std::unique_ptr<platform::FileReplacement> real)
        : log_(log), name_(std::move(name)), real_(std::move(real)) {}
    void Write(const char* data, std::size_t count) override {
      Step("write");
      real_->Write(data, count);
    }
    void StartFlush(platform::Background& flushes) override {
      Step("flush");
      real_->StartFlush(flushes);
    }
    bool InPlace() const override { return real_->InPlace(); }
    platform::CommitResult Commit() override {
      Step("commit");
      if (failed_) return {platform::CommitResult::Outcome::kRefused, log_.error_, {}, {}};
      return real_->Commit();
    }

   private:
    void Step(const std::string& step) { failed_ = log_.Note(step + " " + name_) || failed_; }
    LoggingReplacer& log_;
    std::string name_;
    std::unique_ptr<platform::FileReplacement> real_;
    bool failed_ = false;
  };

  // Whether the step fails; a step repeated at once is logged once.
  bool Note(const std::string& step) {
    if (!log_.ends_with(step)) log_ += (log_.empty() ? "" : ", ") + step;
    if (step != fail_at_) return false;
    if (action_ != nullptr) action_();
    return error_ != 0;
  }

  std::string fail_at_;
  platform::ErrorCode error_;
  void (*action_)();
  std::string log_;
};

// b.gtl follows a.gtl in the same pass: the first is made durable while the
// second streams, and whatever the first raises comes before anything of the
// second.
struct PairRow {
  const char* name;
  const char* fail_at = "";  // the step that fails with `error` or runs `action`
  int error = 0;
  void (*action)() = nullptr;
  bool second_in_place = false;  // b.gtl has a second link: it is rewritten in place
  bool second_changed = false;   // listed before another program replaced it
  bool second_is_first = false;  // b.gtl is another name of a.gtl
  const char* log = "";
  const char* raised = "";  // {file}: a.gtl's full path, {second}: b.gtl's
  After first_after = After::kOld;
  After second_after = After::kOld;
  int killed = 0;  // the process ends by this signal, which `action` sent
};
void PrintTo(const PairRow& row, std::ostream* out) { *out << row.name; }

void CheckPair(const PairRow& row) {
  const Texts texts(1);
  ScratchFolder folder;
  const auto first = folder / "a.gtl";
  const auto second = folder / "b.gtl";
  folder.Write("a.gtl", texts.old_text);
  if (row.second_is_first) link(first.c_str(), second.c_str());
  else folder.Write("b.gtl", texts.old_text);
  if (row.second_in_place) link(second.c_str(), (folder / "b.keep").c_str());
  LoggingReplacer replacer(row.fail_at, row.error, row.action);
  std::string first_once_second_read;
  const auto save = [&] {
    return Raised([&] {
      platform::Background releases;
      SavePass pass(releases, replacer);
      pass.Commit(pass.Rewrite(first, Listed(first), kGerber));
      auto rewrite = pass.Rewrite(second, Listed(row.second_changed ? first : second), kGerber);
      first_once_second_read = folder.Read("a.gtl");
      pass.Commit(std::move(rewrite));
      pass.Flush();
    });
  };
  if (row.killed != 0) {
    EXPECT_EXIT(save(), testing::KilledBySignal(row.killed), "");
  } else {
    const auto raised = save();
    EXPECT_EQ(raised, Replaced(Replaced(row.raised, "{file}", first), "{second}", second));
    EXPECT_EQ(replacer.Log(), row.log);
    if (raised.empty()) {
      EXPECT_EQ(first_once_second_read, texts.new_text);
    }
  }
  EXPECT_EQ(folder.Read("a.gtl"), texts.Of(row.first_after));
  EXPECT_EQ(folder.Read("b.gtl"), texts.Of(row.second_after));
  EXPECT_EQ(RegularFiles(folder.Path()),
            std::string("a.gtl b.gtl ") + (row.second_in_place ? "b.keep " : ""));
  EXPECT_EQ(StagedFiles(getpid()), "");
}

class SavePair : public ::testing::TestWithParam<PairRow> {};
TEST_P(SavePair, ReportsInFileOrder) { CheckPair(GetParam()); }

void TerminateNow() { kill(getpid(), SIGTERM); }

// clang-format off
const PairRow kPairRows[] = {
    {.name = "BothNew", .log = "begin a, write a, flush a, begin b, write b, commit a, flush b, "
     "commit b, flush folder", .first_after = After::kNew, .second_after = After::kNew},
    {.name = "SecondChanged", .second_changed = true,
     .log = "begin a, write a, flush a, commit a, flush folder",
     .raised = "EFCreateError: Cannot create file \"{second}\". It was changed by another program "
     "meanwhile", .first_after = After::kNew},
    {.name = "FirstFlushFails", .fail_at = "flush a", .error = EIO,
     .log = "begin a, write a, flush a, begin b, write b, commit a", .raised = kFsyncFails},
    {.name = "FirstFailsBeforeSecondChanged", .fail_at = "flush a", .error = EIO,
     .second_changed = true, .log = "begin a, write a, flush a, commit a", .raised = kFsyncFails},
    // The second is staged without a name: the failed first leaves it unnamed and gone.
    {.name = "FirstFailsBeforeSecondIsStaged", .fail_at = "flush a", .error = EIO,
     .second_in_place = true, .log = "begin a, write a, flush a, begin b, write b, commit a",
     .raised = kFsyncFails},
    {.name = "FolderFlushFailsAfterBoth", .fail_at = "flush folder", .error = EIO,
     .log = "begin a, write a, flush a, begin b, write b, commit a, flush b, commit b, flush folder",
     .raised = "EWriteError: Stream write error; the new content is kept in \"{second}\"",
     .first_after = After::kNew, .second_after = After::kNew},
    // The first file is not yet in place while the second is staged, and nothing is left.
    {.name = "SignalWhileSecondIsStaged", .fail_at = "write b", .action = TerminateNow,
     .second_in_place = true, .killed = SIGTERM},
    // Rewritten in place, the first changes under its second name, which is not read before.
    {.name = "SameFileUnderTwoNames", .second_is_first = true,
     .log = "begin a, write a, commit a, begin b, write b, commit b", .first_after = After::kNew,
     .second_after = After::kNew},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Rows, SavePair, testing::ValuesIn(kPairRows), kRowName);

}  // namespace
