#include <gtest/gtest.h>

#include "text/line_breaks.h"

namespace {

struct Case {
  std::string text, canonical;
  std::int64_t lines;
};

class LineBreaksTest : public ::testing::TestWithParam<Case> {};

TEST_P(LineBreaksTest, EveryLineEndsInCrLf) {
  const auto result = ToCanonicalLines(GetParam().text);
  EXPECT_EQ(result.bytes, GetParam().canonical);
  EXPECT_EQ(result.line_count, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineBreaksTest,
    ::testing::Values(Case{"A\r\nB\r\n", "A\r\nB\r\n", 2}, Case{"A\nB\n", "A\r\nB\r\n", 2},
                      Case{"A\rB", "A\r\nB\r\n", 2}, Case{"A\r\nB", "A\r\nB\r\n", 2},
                      Case{"A\n\rB", "A\r\n\r\nB\r\n", 3}, Case{"A\r\r\nB", "A\r\n\r\nB\r\n", 3},
                      Case{"A\r\n\r\n", "A\r\n\r\n", 2}, Case{"\r\n", "\r\n", 1},
                      Case{"\n", "\r\n", 1}, Case{"\r", "\r\n", 1}, Case{"", "", 0},
                      Case{"AB", "AB\r\n", 1},
                      Case{"\xEF\xBB\xBFx\x1a\xFF\n", "\xEF\xBB\xBFx\x1a\xFF\r\n", 1},
                      Case{"A\n\nB", "A\r\n\r\nB\r\n", 3}));

}  // namespace
