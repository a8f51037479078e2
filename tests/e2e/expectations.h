#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <tuple>
#include <unistd.h>

#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

// What every run writes before the repair starts.
inline const std::string kBanner =
    "Plendor CAM Fix by Ivesmarch\r\n"
    "mail: camfix@ivesmarch.example\r\n"
    "https://ivesmarch.example/camfix\r\n"
    "\r\n"
    "Press any key to procced.\r\n";

inline const std::string kEnd = "hit any key to exit...\r\n";

// What -h and --help write, and what stands before the reason for a refused
// command line.
inline const std::string kUsage =
    "Usage: camfix [FOLDER]\r\n"
    "Repairs the CAM files in FOLDER, or else in the working folder, and then\r\n"
    "starts gerber.bat there: FSL for FSD in the Gerber files (*.g*), and an\r\n"
    "INCH,LZ header with the tools of the drill report (*.inf) in the drill\r\n"
    "files (*.drl) that declare no format of their own.\r\n"
    "  -h, --help  show this text (/? too on Windows)\r\n"
    "  --version   show the version\r\n";

// What differs by platform, in one place. The suite runs camfix.exe under
// wine when $CAMFIX_UNDER_TEST names it, so the Windows values are wine's.
struct Platform {
  bool wine;
  // I/O error codes for a closed standard output, a pipe whose reader has gone
  // and a closed standard input. Real Windows gives 105, 232 and 6.
  int closed_output, broken_pipe, closed_input;
  std::string access_denied;  // replacing a read-only file; real Windows: "Access is denied"
  std::string batch_marker;   // `echo launched > marker` in gerber.bat: cmd keeps the space
  bool short_names;           // "*.drl" also selects board.drl2 through its 8.3 name
  bool slash_help;            // "/?" asks for the usage text
};

inline const Platform& ThisPlatform() {
  static const Platform native{false, 105, 32, 9, "Permission denied", "launched\n", false, false};
  static const Platform wine{true, 6, 233, 1, "Access denied", "launched \r\n", true, true};
  return CamfixBinary().ends_with(".exe") ? wine : native;
}

// A full path as the fatal report names it: on Windows the drive Z: of wine
// with backslashes, as GetFullPathNameW gives it.
inline std::string ReportedPath(std::string path) {
  if (!ThisPlatform().wine) return path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

using Files = std::map<std::string, std::string>;

// One run of camfix and all it must leave behind. The run starts in the work
// folder, or, when the first argument names it ("{work}"), in an empty folder
// that must stay empty.
struct Row {
  const char* name;
  RunOptions options = {.input = "\n\n"};  // the folder is the row's own
  Files before;                            // the work folder's files; "sub/x" lies in a subfolder
  int exit_code = 0;
  std::string out;
  std::string err;  // with exit code 1: the message line of a report of `error`
  Files changes;    // new and changed files afterwards; other new files fail the row
  const char* error = "EInOutError";
  const char* linux_only = nullptr;  // why the row does not hold for camfix.exe under wine
  void (*arrange)(const std::string& work) = nullptr;  // links, modes, dates, odd entries
};
inline void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The console of a run answered with Enter twice whose repair wrote `lines`.
inline std::string Repaired(const std::string& lines) { return kBanner + "\n\r\n" + lines + kEnd; }

inline std::string GerberLines(const std::string& name, long size) {
  return "File name = " + name + "\r\nFile size = " + std::to_string(size) +
         "\r\nprocessing...\r\n";
}

inline std::string WithFolder(std::string text, const std::string& folder) {
  for (auto at = text.find("{work}"); at != std::string::npos; at = text.find("{work}")) {
    text.replace(at, 6, ReportedPath(folder));
  }
  return text;
}

// What a file must keep when it is repaired: owner, group, mode, links,
// extended attributes (POSIX ACLs among them) and inode flags.
inline std::tuple<uid_t, gid_t, mode_t, nlink_t, std::set<std::string>, int> Identity(
    const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  std::string names(1 << 16, '\0'), value(1 << 16, '\0');
  const auto length = listxattr(path.c_str(), names.data(), names.size());
  names.resize(static_cast<std::size_t>(std::max(0L, length)));
  std::set<std::string> attributes;
  for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
    const auto size = getxattr(path.c_str(), names.c_str() + at, value.data(), value.size());
    attributes.insert(names.c_str() + at + ("=" + value.substr(0, std::max(0L, size))));
  }
  int flags = 0;  // inode flags: chattr's
  if (const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW); fd >= 0) {
    ioctl(fd, FS_IOC_GETFLAGS, &flags), close(fd);
  }
  return {info.st_uid, info.st_gid, info.st_mode, info.st_nlink, attributes, flags};
}

inline void CheckRow(const Row& row) {
  if (ThisPlatform().wine && row.linux_only != nullptr) GTEST_SKIP() << row.linux_only;
  ScratchFolder start, work;
  for (const auto& [name, bytes] : row.before) {
    std::filesystem::create_directories(std::filesystem::path(work / name).parent_path());
    work.Write(name, bytes);
  }
  if (row.arrange != nullptr) row.arrange(work.Path());
  std::map<std::string, decltype(Identity(""))> identities;
  for (const auto& [name, bytes] : row.before) identities[name] = Identity(work / name);
  auto options = row.options;
  for (auto& argument : options.arguments) argument = WithFolder(argument, work.Path());
  for (auto& setting : options.environment) setting = WithFolder(setting, work.Path());
  const bool from_start = !row.options.arguments.empty() && row.options.arguments[0] == "{work}";
  options.folder = from_start ? start.Path() : work.Path();
  CamfixProcess camfix(options);
  auto result = camfix.Finish();
  // gerber.bat runs detached: its marker is waited for, or, when it must not
  // come, given half a second to show up anyway.
  const int waits = row.changes.contains("marker") ? 3000
                    : row.before.contains("gerber.bat") || row.before.contains("sub/gerber.bat")
                        ? 50
                        : 0;
  for (int tries = 0; tries < waits && work.Read("marker").empty(); ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (options.errors_to_output) {
    result.err = result.out.substr(std::min(row.out.size(), result.out.size()));
    result.out.resize(result.out.size() - result.err.size());
  }
  EXPECT_TRUE(result.out == row.out) << result.out.substr(0, 2000);
  const auto err = WithFolder(row.err, work.Path());
  if (row.exit_code == 1 && result.exit_code == 1) {  // a fatal report, but for the address
    const auto binary = CamfixBinary();
    const std::regex form("Exception " + std::string(row.error) + " in module " +
                          binary.substr(binary.rfind('/') + 1) + " at [0-9A-F]{8}\\.\r\n");
    const auto first_end = std::min(result.err.find("\r\n"), result.err.size() - 2) + 2;
    EXPECT_TRUE(std::regex_match(result.err.substr(0, first_end), form)) << result.err;
    EXPECT_EQ(result.err.substr(first_end), err + "\r\n\r\n");
  } else {
    EXPECT_EQ(result.exit_code, row.exit_code);
    EXPECT_EQ(result.err, err);
  }
  auto after = row.changes;
  after.insert(row.before.begin(), row.before.end());
  std::string names;
  for (const auto& [name, bytes] : after) {
    EXPECT_TRUE(work.Read(name) == bytes) << name;
    if (name.find('/') == std::string::npos) names += name + " ";
  }
  EXPECT_EQ(RegularFiles(work.Path()), names);
  for (const auto& [name, identity] : identities)
    EXPECT_EQ(Identity(work / name), identity) << name;
  EXPECT_EQ(StagedFiles(camfix.Pid()), "");
  EXPECT_EQ(RegularFiles(start.Path()), "");
}

// One test per row, Rows/<suite>.Case/<row's name>; `rows()` gives them when
// the tests are listed.
#define ROW_TESTS(suite, rows)                                       \
  TEST_P(suite, Case) { CheckRow(GetParam()); }                      \
  INSTANTIATE_TEST_SUITE_P(Rows, suite, ::testing::ValuesIn(rows()), \
                           [](const auto& info) { return std::string(info.param.name); })
