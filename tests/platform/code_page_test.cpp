#include <gtest/gtest.h>

#include <algorithm>

#include "platform/code_page.h"

namespace {

using platform::ConsoleSafeText;
using platform::FileNameAfter;
using platform::kNoLeadBytes;
using platform::LeadByteSet;
using platform::LeadBytesFromRanges;

TEST(LeadBytes, CodePageRangesAndFileNamesThatSplitOnlyBetweenCharacters) {
  const unsigned char shift_jis[12] = {0x81, 0x9F, 0xE0, 0xFC}, after_end[12] = {0, 0, 0x81, 0x9F};
  const unsigned char up_to_ff[12] = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 0xFF, 0xFF};
  const LeadByteSet sjis = LeadBytesFromRanges(shift_jis);
  EXPECT_EQ(std::count(sjis.begin(), sjis.end(), true), 31 + 29);
  EXPECT_TRUE(sjis[0x81] && sjis[0x9F] && sjis[0xE0] && sjis[0xFC] && !sjis[0x80] && !sjis[0xA0]);
  EXPECT_TRUE(LeadBytesFromRanges(up_to_ff)[0xFF]);
  EXPECT_EQ(LeadBytesFromRanges(after_end), kNoLeadBytes);
  const struct {
    const char* path;
    const LeadByteSet& lead_bytes;
    long name_at;
  } paths[] = {
      {"C:\\cam\\camfix.exe", sjis, 7},
      {"C:\\\x95\x5C.exe", sjis, 3},  // 0x95 0x5C is one character
      {"C:\\\x95\x5C.exe", kNoLeadBytes, 5},
      {"\x95\x95\\x.exe", sjis, 3},
      {"C:\\\x95\0\\beyond", sjis, 3},  // a lone lead byte at the end
  };
  for (const auto& [path, lead_bytes, at] : paths) {
    EXPECT_EQ(FileNameAfter(path, "\\/", lead_bytes) - path, at) << path;
  }
}

// Only what a terminal takes as a control becomes "?": a byte 0x80 to 0x9F
// within valid UTF-8 is part of a character.
TEST(ConsoleSafeText, ControlCharactersAreShownAsQuestionMarks) {
  const struct {
    std::string_view text, kept, shown;
  } rows[] = {
      {"plain \xC3\xBC \xD0\xBF \xE4\xB8\xAD \xF0\x9F\x98\x80 \xE2\x80\x9B", "",
       "plain \xC3\xBC \xD0\xBF \xE4\xB8\xAD \xF0\x9F\x98\x80 \xE2\x80\x9B"},
      {"\x1b[2J\x7F\x01", "", "?[2J??"},
      {"a\tb\r\n", "", "a?b??"},
      {"a\tb\r\n\x0b", "\r\n\t", "a\tb\r\n?"},
      // U+009B, U+0080, U+009F, U+00A0
      {"\xC2\x9BH \xC2\x80 \xC2\x9F \xC2\xA0", "", "?H ? ? \xC2\xA0"},
      {"\x9BH \x80\x9F", "", "?H ??"},                             // bytes on their own
      {"caf\xE9 \xC2", "", "caf\xE9 \xC2"},                        // Latin-1, a cut sequence
      {"\xE0\x82\x9B \xC0\x9B", "", "\xE0?? \xC0?"},               // overlong forms
      {"\xED\xA0\x9B \xF4\x90\x80\x80", "", "\xED\xA0? \xF4???"},  // surrogate, beyond U+10FFFF
      {"\xE2\x9B", "", "\xE2?"},                                   // one byte short
  };
  for (const auto& [text, kept, shown] : rows) {
    EXPECT_EQ(ConsoleSafeText(text, kept), shown) << text;
  }
}

}  // namespace
