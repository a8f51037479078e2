#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "repair/tool_table.h"

namespace {

// Reports (line ends already CR LF) and their tables. Each is cut at every
// one or two places, so that chunk edges split the heading, the byte skipped
// after it, the end mark and the six spaces and point in every way.
const struct {
  std::string report, table;
} kReports[] = {
    {"Drill report\r\n\r\nT-Code   Size\r\nT01      .0320\r\nT02      .0400\r\n-------\r\n",
     "\nT01C0.0320\r\nT02C0.0400\r\n"},
    // Dashes before the heading do not count; five spaces before the point
    // are no size, and of seven the last six are.
    {"----\r\nT-Code   Size\r\nT07      .1250\r\nT1     .5\r\nT2       .6\r\n----\r\n",
     "\nT07C0.1250\r\nT1     .5\r\nT2 C0.6\r\n"},
    {"T-Code   Size\r\n----\r\n", "\n"},
    // The first heading and the first end mark after the skipped byte count;
    // a part of either is neither.
    {"T-Code   SizT-Code   Size\r\nT1 --- -\r\n----T-Code   Size\r\nT2\r\n----", "\nT1 --- -\r\n"},
    {"T-Code   Size-----\r\n", ""},
    // Dashes short of an end mark at every place a held piece may end.
    {"T-Code   Size\r\nT3      .1\r\n---\r\n-- --\r\n---\r\n----\r\n",
     "\nT3C0.1\r\n---\r\n-- --\r\n---\r\n"},
    {"x\r\nT-Code   Size\r\nT01      .0320\r\n", ""},        // no end mark
    {"just some text that is long enough\r\n----\r\n", ""},  // no heading
    {"T-Code   Size", ""},
    {"T-Code   Size\r", ""},
    {"", ""},
};

ToolTableCut CutInThree(std::string_view report, std::size_t first, std::size_t second,
                        std::size_t most = ToolTableCut::kMostHeld) {
  ToolTableCut cut(most);
  cut.Take(report.substr(0, first));
  cut.Take(report.substr(first, second - first));
  cut.Take(report.substr(second));
  return cut;
}

TEST(ToolTableCut, ChunksGiveTheTableOfTheWholeReport) {
  for (const auto& [report, table] : kReports) {
    for (std::size_t first = 0; first <= report.size(); ++first) {
      for (std::size_t second = first; second <= report.size(); ++second) {
        const auto cut = CutInThree(report, first, second);
        ASSERT_FALSE(cut.TooLong());
        ASSERT_EQ(cut.Table(), table) << report << " cut at " << first << " and " << second;
      }
    }
  }
}

// Held up to a few bytes, every table is either whole or measured, and a cut
// that holds what was measured gives it whole from the same report.
TEST(ToolTableCut, TableLongerThanTheCutHoldsIsMeasuredAndCutAgain) {
  for (const auto& [report, table] : kReports) {
    for (std::size_t most = 0; most <= 20; ++most) {
      for (std::size_t first = 0; first <= report.size(); ++first) {
        for (std::size_t second = first; second <= report.size(); ++second) {
          auto cut = CutInThree(report, first, second, most);
          if (cut.TooLong()) {
            ASSERT_EQ(cut.Table(), "");
            cut = CutInThree(report, first, second, cut.TableSize());
            ASSERT_FALSE(cut.TooLong());
          }
          ASSERT_EQ(cut.Table(), table)
              << report << " holding " << most << " cut at " << first << " and " << second;
        }
      }
    }
  }
}

}  // namespace
