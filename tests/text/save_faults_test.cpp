#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <set>
#include <sys/stat.h>
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
  Call call;
  int nth = 1;    // its nth call, those on the console (descriptors 0-2) not counted
  int error = 0;  // what it fails with; 0: it goes through after `before`
  void (*before)(int fd) = nullptr;
  bool in_place = false;    // a second link makes the save overwrite the file
  const char* raised = "";  // {file}: the file's full path, {staged}: the staged copy's
  After after = After::kOld;
  bool killed = false;  // the process ends by the SIGTERM that `before` raised
  int lines = 60'000;   // of the file
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
WRAP(int, sync_file_range, (int fd, off64_t at, off64_t count, unsigned flags), fd, at, count, flags)
WRAP(int, renameat2,
     (int from_folder, const char* from, int to_folder, const char* to, unsigned flags),
     from_folder, from, to_folder, to, flags)
}

namespace {

const Conversion kGerber{true, &platform::kNoLeadBytes, false, {}};

// "Class: message" of what `save` raised with the fault of `row` armed.
template <class Save>
std::string Raised(const Row& row, Save save) {
  std::string raised;
  armed = &row;
  calls = 0;
  try {
    save();
  } catch (const Exception& error) {
    raised = std::string(error.ClassName()) + ": " + error.Message();
  }
  armed = nullptr;
  return raised;
}

// The save of `path` with the fault of `row` armed.
std::string Save(const std::string& path, const Row& row) {
  platform::FileStamp listed;
  platform::sys::StampOf(path, listed);
  return Raised(row, [&] {
    platform::Background releases;
    SavePass pass(releases);
    pass.Commit(std::make_unique<FileRewrite>(path, listed, kGerber, pass));
    pass.Flush();
  });
}

std::string Replaced(std::string text, const std::string& field, const std::string& by) {
  const auto at = text.find(field);
  return at == std::string::npos ? text : text.replace(at, field.size(), by);
}

// Every name in `folder`, dot-files included, or those that begin with `prefix`.
std::string Names(const std::string& folder, const std::string& prefix = "") {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  std::string all;
  for (const auto& name : names) all += name.starts_with(prefix) ? name + " " : "";
  return all;
}

class SaveFault : public ::testing::TestWithParam<Row> {};

// The file is larger than one read and one block of the overwrite, so that a
// fault can strike half-way.
TEST_P(SaveFault, EndsWithItsErrorAndLeavesNoFileBehind) {
  const Row& row = GetParam();
  std::string old_text = "%FSDAX24Y24*%\n";
  std::string new_text = "%FSLAX24Y24*%\r\n";
  for (int line = 0; line < row.lines; ++line) {
    old_text += "X012345Y067890D01*\n";
    new_text += "X012345Y067890D01*\r\n";
  }
  ScratchFolder folder;
  folder.Write("a.gtl", old_text);
  if (row.in_place) link((folder / "a.gtl").c_str(), (folder / "a.keep").c_str());
  const auto staged = ".camfix-" + std::to_string(getpid()) + "-a.gtl";
  if (row.killed) {
    EXPECT_EXIT(Save(folder / "a.gtl", row), testing::KilledBySignal(SIGTERM), "");
  } else {
    EXPECT_EQ(
        Save(folder / "a.gtl", row),
        Replaced(Replaced(row.raised, "{file}", folder / "a.gtl"), "{staged}", folder / staged));
  }
  const std::string expected[] = {old_text, "", new_text, new_text, old_text + "G04*\n",
                                  old_text.substr(0, 14) + "G04*\n" + old_text.substr(19)};
  EXPECT_TRUE(folder.Read(row.after == After::kKeptAside ? staged : "a.gtl") ==
              expected[static_cast<int>(row.after)]);
  EXPECT_EQ(Names(folder.Path()), std::string(row.after == After::kKeptAside ? staged + " " : "") +
                                      (row.in_place ? "a.gtl a.keep " : "a.gtl "));
  EXPECT_EQ(Names("/var/tmp", "camfix-" + std::to_string(getpid()) + "-"), "");
}

void Shrink(int fd) { truncate(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0); }
// To the process, not the calling thread: a writer thread holds it back.
void Terminate(int /*fd*/) { kill(getpid(), SIGTERM); }
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
    {.name = "FsyncFails", .call = Call::fsync, .error = EIO,
     .raised = "EWriteError: Stream write error in \"{file}\". Input/output error"},
    // The staged copy's, its folder's, then the file's own after the overwrite.
    {.name = "FsyncFailsInPlace", .call = Call::fsync, .nth = 3, .error = EIO, .in_place = true,
     .raised = kKept, .after = After::kKeptAside},
    // The file's folder, flushed by the pass after the rename: the file holds the new content.
    {.name = "FolderSyncFails", .call = Call::fsync, .nth = 2, .error = EIO,
     .raised = "EWriteError: Stream write error; the new content is kept in \"{file}\"",
     .after = After::kNew},
    // The wait for the writeback 32 MiB behind: the last that hears of its error.
    {.name = "WritebackFails", .call = Call::sync_file_range, .nth = 10, .error = EIO,
     .raised = "EWriteError: Stream write error", .lines = 2'000'000},
    {.name = "RenameRefused", .call = Call::renameat2, .error = EPERM,
     .raised = "EWriteError: Stream write error in \"{file}\". Operation not permitted"},
    {.name = "OverwriteFailsHalfWay", .call = Call::pwrite, .nth = 2, .error = ENOSPC,
     .in_place = true, .raised = kKept, .after = After::kKeptAside},
    // Held off while the file is renamed or overwritten, acted on once it is whole.
    {.name = "SignalWhileStaging", .call = Call::write, .before = Terminate, .in_place = true,
     .killed = true},
    {.name = "SignalDuringTheRename", .call = Call::renameat2, .before = Terminate,
     .after = After::kNew, .killed = true},
    {.name = "SignalDuringTheOverwrite", .call = Call::pwrite, .before = Terminate,
     .in_place = true, .after = After::kNew, .killed = true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Rows, SaveFault, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Two files in one pass: the first is made durable while the second streams,
// and whatever the first raises comes before anything of the second.
struct PairRow {
  const char* name;
  Row fault;
  bool second_changed = false;  // listed before another program replaced it
  bool first_in_place = false;   // a second link: a staged copy with a name
  bool second_in_place = false;  // the same; the first file is settled before it is made
  const char* raised = "";       // {first}, {second}: their full paths
  bool first_new = false;
  bool second_new = false;
  bool killed = false;  // by the SIGTERM the fault raised
};
void PrintTo(const PairRow& row, std::ostream* out) { *out << row.name; }

class SavePair : public ::testing::TestWithParam<PairRow> {};

TEST_P(SavePair, ReportsInFileOrder) {
  const PairRow& row = GetParam();
  const std::string old_text = "%FSDAX24Y24*%\nX0Y0D01*\n";
  const std::string new_text = "%FSLAX24Y24*%\r\nX0Y0D01*\r\n";
  ScratchFolder folder;
  folder.Write("a.gtl", old_text);
  folder.Write("b.gtl", old_text);
  if (row.first_in_place) link((folder / "a.gtl").c_str(), (folder / "a.keep").c_str());
  if (row.second_in_place) link((folder / "b.gtl").c_str(), (folder / "b.keep").c_str());
  platform::FileStamp listed[2];
  platform::sys::StampOf(folder / "a.gtl", listed[0]);
  platform::sys::StampOf(folder / (row.second_changed ? "a.gtl" : "b.gtl"), listed[1]);
  std::string first_once_second_read;
  const auto save = [&] {
    platform::Background releases;
    SavePass pass(releases);
    pass.Commit(std::make_unique<FileRewrite>(folder / "a.gtl", listed[0], kGerber, pass));
    auto second = std::make_unique<FileRewrite>(folder / "b.gtl", listed[1], kGerber, pass);
    first_once_second_read = folder.Read("a.gtl");
    pass.Commit(std::move(second));
    pass.Flush();
  };
  if (row.killed) {
    EXPECT_EXIT(Raised(row.fault, save), testing::KilledBySignal(SIGTERM), "");
  } else {
    EXPECT_EQ(Raised(row.fault, save),
              Replaced(Replaced(row.raised, "{first}", folder / "a.gtl"), "{second}",
                       folder / "b.gtl"));
    if (*row.raised == '\0') {
      EXPECT_EQ(first_once_second_read, new_text);
    }
  }
  EXPECT_EQ(folder.Read("a.gtl"), row.first_new ? new_text : old_text);
  EXPECT_EQ(folder.Read("b.gtl"), row.second_new ? new_text : old_text);
  EXPECT_EQ(Names(folder.Path()), std::string("a.gtl ") + (row.first_in_place ? "a.keep " : "") +
                                      "b.gtl " + (row.second_in_place ? "b.keep " : ""));
  EXPECT_EQ(Names("/var/tmp", "camfix-" + std::to_string(getpid()) + "-"), "");
}

const char* const kFirstFsyncFails =
    "EWriteError: Stream write error in \"{first}\". Input/output error";
const Row kNoFault{.name = "", .call = Call::read, .nth = 0};
const Row kFirstFsync{.name = "", .call = Call::fsync, .error = EIO};

// clang-format off
const PairRow kPairRows[] = {
    {.name = "BothNew", .fault = kNoFault, .first_new = true, .second_new = true},
    {.name = "SecondInPlace", .fault = kNoFault, .second_in_place = true, .first_new = true,
     .second_new = true},
    {.name = "SecondChanged", .fault = kNoFault, .second_changed = true,
     .raised = "EFCreateError: Cannot create file \"{second}\". It was changed by another program "
               "meanwhile", .first_new = true},
    {.name = "FirstFsyncFails", .fault = kFirstFsync, .raised = kFirstFsyncFails},
    {.name = "FirstFailsBeforeSecondChanged", .fault = kFirstFsync, .second_changed = true,
     .raised = kFirstFsyncFails},
    {.name = "FirstFailsBeforeSecondIsStaged", .fault = kFirstFsync, .second_in_place = true,
     .raised = kFirstFsyncFails},
    // The second write is the second staged copy's: the interruption removes it.
    {.name = "SignalWhileSecondIsStaged",
     .fault = {.name = "", .call = Call::write, .nth = 2, .before = Terminate},
     .first_in_place = true, .second_in_place = true, .first_new = true, .killed = true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Rows, SavePair, testing::ValuesIn(kPairRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
