#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

#include "support/scratch_folder.h"
#include "text/exceptions.h"
#include "text/file_stream.h"

// The save's failures, made by the system calls themselves: the program is
// linked with --wrap for the calls below, and each goes through unless the
// fault armed for it strikes.
namespace {

enum class Call { kRead, kWrite, kFsync, kRename, kPwrite };

struct Fault {
  Call call;
  int nth = 1;     // its nth call on a file (descriptors 0-2 are the console's)
  int error = 0;   // what it fails with; 0: it goes through after `before`
  void (*before)(int fd) = nullptr;
};

Fault armed;
int calls = 0;
bool active = false;

bool Strikes(Call call, int fd) {
  if (!active || call != armed.call || fd <= 2 || ++calls != armed.nth) return false;
  if (armed.before != nullptr) armed.before(fd);
  errno = armed.error;
  return armed.error != 0;
}

}  // namespace

extern "C" {
ssize_t __real_read(int fd, void* data, size_t count);
ssize_t __real_write(int fd, const void* data, size_t count);
ssize_t __real_pwrite(int fd, const void* data, size_t count, off_t at);
int __real_fsync(int fd);
int __real_renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags);

ssize_t __wrap_read(int fd, void* data, size_t count) {
  return Strikes(Call::kRead, fd) ? -1 : __real_read(fd, data, count);
}
ssize_t __wrap_write(int fd, const void* data, size_t count) {
  return Strikes(Call::kWrite, fd) ? -1 : __real_write(fd, data, count);
}
ssize_t __wrap_pwrite(int fd, const void* data, size_t count, off_t at) {
  return Strikes(Call::kPwrite, fd) ? -1 : __real_pwrite(fd, data, count, at);
}
int __wrap_fsync(int fd) { return Strikes(Call::kFsync, fd) ? -1 : __real_fsync(fd); }
int __wrap_renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
  return Strikes(Call::kRename, 3) ? -1 : __real_renameat2(from_folder, from, to_folder, to, flags);
}
}

namespace {

// What the file holds at the end; kKeptAside: the fault came after it began to
// change, and the staged copy holds the new content. kRepaired: a signal ended
// the process after the save.
enum class After { kOld, kEmptied, kKeptAside, kRepaired };

struct Row {
  const char* name;
  Fault fault;
  bool in_place = false;  // a second link makes the save overwrite the file
  const char* raised = "";  // {file}: the file's full path, {staged}: the staged copy's
  After after = After::kOld;
};

// The save of `path` with `fault` armed: the error raised, as "Class: message".
std::string Save(const std::string& path, const Fault& fault) {
  platform::FileStamp listed;
  platform::sys::StampOf(path, listed);
  armed = fault;
  calls = 0;
  active = true;
  std::string raised;
  try {
    FileRewrite rewrite(path, listed, {true, &platform::kNoLeadBytes, false, {}});
    rewrite.Commit();
  } catch (const Exception& error) {
    raised = std::string(error.ClassName()) + ": " + error.Message();
  }
  active = false;
  return raised;
}

std::string Replaced(std::string text, const std::string& field, const std::string& by) {
  if (const auto at = text.find(field); at != std::string::npos) text.replace(at, field.size(), by);
  return text;
}

// Every name in `folder`, dot-files included, or those that begin with `prefix`.
std::string Names(const std::string& folder, const std::string& prefix = "") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const auto name = entry.path().filename().string();
    if (name.starts_with(prefix)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::string all;
  for (const auto& name : names) all += name + " ";
  return all;
}

class SaveFault : public ::testing::TestWithParam<Row> {};

// The file is larger than one read and one block of the overwrite, so that a
// fault can strike half-way.
TEST_P(SaveFault, EndsWithItsErrorAndLeavesNoFileBehind) {
  const Row& row = GetParam();
  std::string old_text = "%FSDAX24Y24*%\n";
  std::string new_text = "%FSLAX24Y24*%\r\n";
  for (int line = 0; line < 60'000; ++line) old_text += "X012345Y067890D01*\n";
  for (int line = 0; line < 60'000; ++line) new_text += "X012345Y067890D01*\r\n";
  ScratchFolder folder;
  folder.Write("a.gtl", old_text);
  if (row.in_place) link((folder / "a.gtl").c_str(), (folder / "a.keep").c_str());
  const auto staged = ".camfix-" + std::to_string(getpid()) + "-a.gtl";
  if (row.after == After::kRepaired) {
    EXPECT_EXIT(Save(folder / "a.gtl", row.fault), testing::KilledBySignal(SIGTERM), "");
  } else {
    EXPECT_EQ(Save(folder / "a.gtl", row.fault),
              Replaced(Replaced(row.raised, "{file}", folder / "a.gtl"), "{staged}", folder / staged));
  }
  const std::string expected[] = {old_text, "", new_text, new_text};  // by After
  EXPECT_TRUE(folder.Read(row.after == After::kKeptAside ? staged : "a.gtl") ==
              expected[static_cast<int>(row.after)]);
  EXPECT_EQ(Names(folder.Path()), std::string(row.after == After::kKeptAside ? staged + " " : "") +
                                      (row.in_place ? "a.gtl a.keep " : "a.gtl "));
  EXPECT_EQ(Names("/var/tmp", "camfix-" + std::to_string(getpid()) + "-"), "");
}

const Row kRows[] = {
    // The read that would find the end fails: no later check notices it.
    {.name = "ReadError", .fault = {.call = Call::kRead, .nth = 3, .error = EIO},
     .raised = "EReadError: Stream read error"},
    {.name = "FileShrinksWhileRead",
     .fault = {.call = Call::kRead, .nth = 2,
               .before = [](int fd) { truncate(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0); }},
     .raised = "EReadError: Stream read error", .after = After::kEmptied},
    {.name = "WriteErrorMidStream", .fault = {.call = Call::kWrite, .nth = 2, .error = ENOSPC},
     .raised = "EWriteError: Stream write error"},
    {.name = "WriteErrorMidStreamInPlace", .fault = {.call = Call::kWrite, .nth = 2, .error = ENOSPC},
     .in_place = true,
     .raised = "EWriteError: Stream write error in \"{staged}\". No space left on device"},
    {.name = "FsyncFails", .fault = {.call = Call::kFsync, .error = EIO},
     .raised = "EWriteError: Stream write error in \"{file}\". Input/output error"},
    // The staged copy's, its folder's, then the file's own after the overwrite.
    {.name = "FsyncFailsInPlace", .fault = {.call = Call::kFsync, .nth = 3, .error = EIO},
     .in_place = true,
     .raised = "EWriteError: Stream write error; the new content is kept in \"{staged}\"",
     .after = After::kKeptAside},
    {.name = "RenameRefused", .fault = {.call = Call::kRename, .error = EPERM},
     .raised = "EWriteError: Stream write error in \"{file}\". Operation not permitted"},
    {.name = "OverwriteFailsHalfWay", .fault = {.call = Call::kPwrite, .nth = 2, .error = ENOSPC},
     .in_place = true,
     .raised = "EWriteError: Stream write error; the new content is kept in \"{staged}\"",
     .after = After::kKeptAside},
    {.name = "SignalDuringTheOverwrite",
     .fault = {.call = Call::kPwrite, .before = [](int) { raise(SIGTERM); }}, .in_place = true,
     .after = After::kRepaired},
};

INSTANTIATE_TEST_SUITE_P(Rows, SaveFault, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
