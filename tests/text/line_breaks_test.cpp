#include <gtest/gtest.h>

#include <random>

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
                      Case{"AB", "AB\r\n", 1}, Case{"\xEF\xBB\xBFx\x1a\xFF\n", "\xEF\xBB\xBFx\x1a\xFF\r\n", 1},
                      Case{"A\n\nB", "A\r\n\r\nB\r\n", 3}));

// The plain reading of the rules, one byte at a time.
Case Reference(const std::string& text) {
  Case result{text, "", 0};
  std::size_t at = 0;
  while (at < text.size()) {
    const auto start = at;
    while (at < text.size() && text[at] != '\r' && text[at] != '\n') ++at;
    result.canonical += text.substr(start, at - start) + "\r\n";
    ++result.lines;
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
  }
  return result;
}

TEST(LineBreaks, AgreesWithThePlainRulesOnRandomText) {
  std::mt19937 random(20261206);
  const char alphabet[] = {'\r', '\n', 'a', 'b', '\0', '\x1a'};
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 24, ' ');
    const auto kinds = 1 + random() % 6;  // some texts have no CR, some nothing but line ends
    for (auto& c : text) c = alphabet[random() % kinds];
    const auto expected = Reference(text);
    const auto actual = ToCanonicalLines(text);
    ASSERT_EQ(actual.bytes, expected.canonical) << testing::PrintToString(text);
    ASSERT_EQ(actual.line_count, expected.lines);
  }
}

}  // namespace
