#include <gtest/gtest.h>

#include <algorithm>

#include "platform/code_page.h"

namespace {

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

}  // namespace
