#include <gtest/gtest.h>

#include <dlfcn.h>

#include "program/fatal_report.h"
#include "text/exceptions.h"

namespace {

std::uintptr_t AddressInThisProgram(std::uintptr_t offset) {
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(&AddressInThisProgram), &info);
  return reinterpret_cast<std::uintptr_t>(info.dli_fbase) + offset;
}

std::string Compose(const Exception& error, std::size_t capacity = 1024) {
  char report[1024];
  const auto length = ComposeFatalReport(error, AddressInThisProgram(0x1234), report, capacity);
  return std::string(report, length);
}

TEST(FatalReport, NamesClassModuleAddressAndMessage) {
  EXPECT_EQ(Compose(EWriteError("Done.")),
            "Exception EWriteError in module camfix_unit_tests at 00001234.\r\nDone.\r\n");
  EXPECT_EQ(Compose(Exception("")),
            "Exception Exception in module camfix_unit_tests at 00001234.\r\n\r\n");
  EXPECT_EQ(Compose(EOutOfMemory()).substr(65), "Out of memory.\r\n");
  EXPECT_EQ(Compose(EWriteError(std::string(2000, 'x'))).size(), 1023u);  // cut, not overrun
}

// The only check of the line printed when memory runs out at start-up.
TEST(FatalReport, RuntimeErrorLineHasItsFixedColumns) {
  char line[30];
  EXPECT_EQ(ComposeRuntimeError(203, 0x40A1B2, line), 29u);
  EXPECT_STREQ(line, "Runtime error 203 at 0040A1B2");
}

}  // namespace
