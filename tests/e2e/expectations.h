#pragma once

#include <gtest/gtest.h>

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

// The file name the fatal report names the program by.
inline std::string ModuleName() {
  const auto binary = CamfixBinary();
  return binary.substr(binary.rfind('/') + 1);
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
