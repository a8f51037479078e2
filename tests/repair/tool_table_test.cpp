#include <gtest/gtest.h>

#include "repair/repair_run.h"

namespace {

struct Report {
  const char* name;
  std::string text, table;
};

class ToolTableTest : public ::testing::TestWithParam<Report> {};

TEST_P(ToolTableTest, CutsBetweenHeadingAndDashes) {
  EXPECT_EQ(CutToolTable(GetParam().text), GetParam().table);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, ToolTableTest,
    ::testing::Values(Report{"Worked",
                             "T-Code   Size\r\nT01      .0320\r\nT02      .0400\r\n-------\r\n",
                             "\nT01C0.0320\r\nT02C0.0400\r\n"},
                      Report{"HeadingOnLastLine", "x\r\nT-Code   Size\r\n", ""},
                      Report{"DashesRightAfterHeading", "T-Code   Size\r\n----\r\n", "\n"},
                      Report{"FiveAndSevenSpaces",
                             "T-Code   Size\r\nT1     .5\r\nT2       .6\r\n----\r\n",
                             "\nT1     .5\r\nT2 C0.6\r\n"},
                      Report{"NoHeading", "T01      .0320\r\n----\r\n", ""},
                      Report{"NoDashes", "T-Code   Size\r\nT01      .0320\r\n", ""},
                      Report{"FirstDashesAfterHeadingOnly",
                             "----\r\nT-Code   Size\r\nT3      .1\r\n----\r\n", "\nT3C0.1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
