#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "e2e/run_camfix.h"

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
    "files (*.drl).\r\n"
    "  -h, --help  show this text (/? too on Windows)\r\n"
    "  --version   show the version\r\n";

// The file name the fatal report names the program by.
inline std::string ModuleName() {
  const auto binary = CamfixBinary();
  return binary.substr(binary.rfind('/') + 1);
}

// What differs by platform, in one place. The suite runs camfix.exe under
// wine when $CAMFIX_UNDER_TEST names it, so the Windows values are wine's.
struct Platform {
  bool wine;
  // I/O error codes for a closed standard output, a pipe whose reader has gone
  // and a closed standard input. Real Windows gives 105, 232 and 6.
  int closed_output, broken_pipe, closed_input;
  std::string access_denied;  // replacing a read-only file; real Windows: "Access is denied"
  std::string batch_marker;   // `echo launched > marker` in gerber.bat: cmd keeps the space
  std::string odd_name;       // wine refuses names that are not UTF-8: ASCII only there
  bool short_names;           // "*.drl" also selects board.drl2 through its 8.3 name
  bool slash_help;            // "/?" asks for the usage text
};

inline const Platform& ThisPlatform() {
  static const Platform linux_build{.wine = false,
                                    .closed_output = 105,
                                    .broken_pipe = 32,
                                    .closed_input = 9,
                                    .access_denied = "Permission denied",
                                    .batch_marker = "launched\n",
                                    .odd_name = "caf\xE9.gtl",
                                    .short_names = false,
                                    .slash_help = false};
  static const Platform wine{.wine = true,
                             .closed_output = 6,
                             .broken_pipe = 233,
                             .closed_input = 1,
                             .access_denied = "Access denied",
                             .batch_marker = "launched \r\n",
                             .odd_name = "#1 (copy) & co.gtl",
                             .short_names = true,
                             .slash_help = true};
  return CamfixBinary().ends_with(".exe") ? wine : linux_build;
}

// A full path as the fatal report names it: on Windows the drive Z: of wine
// with backslashes, as GetFullPathNameA gives it.
inline std::string ReportedPath(std::string path) {
  if (!ThisPlatform().wine) return path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

// Checks a fatal report on standard error, byte for byte but for the address.
inline void ExpectReport(const RunResult& result, const std::string& error_class,
                         const std::string& message_line) {
  EXPECT_EQ(result.exit_code, 1);
  const std::regex form("Exception " + error_class + " in module " + ModuleName() +
                        " at [0-9A-F]{8}\\.\r\n");
  const auto first_end = result.err.find("\r\n") + 2;
  EXPECT_TRUE(std::regex_match(result.err.substr(0, first_end), form)) << result.err;
  EXPECT_EQ(result.err.substr(first_end), message_line + "\r\n\r\n");
}
