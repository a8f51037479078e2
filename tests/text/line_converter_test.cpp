#include <gtest/gtest.h>

#include <vector>

#include "support/whole_file_model.h"

namespace {

// Texts whose line ends, "FSD"s, double-byte characters and zero bytes meet
// chunk edges in every way once the text is cut at every one or two places.
const std::string kTexts[] = {
    "",
    "\r",
    "A\n\rB\r\r\nC\r\nD",
    "FSFSD FSDD\rFSD\n\x81"
    "FSD \x81\x81"
    "FSD\r\n",
    "x\r\n%FSDAX24Y24*%\nX0125Y0250D01*\r\nM02*\r",
    "0123456789abcdef\r\n0123456789abcde\r\r\n0123456789abcdefFSD\n\n",
    std::string("G04\nT\0X\r\n", 9),
    // Long enough for the 64-byte scan: a lone CR before text and an LF, a
    // CR LF across its blocks, and a zero byte it must report.
    "G04 a lone CR, then text and an LF*\rX0125Y0250D01*\nX0250Y0500D02*\r\r\n%FSDAX24Y24*%\n"
    "G04 the CR ends one block, the LF*\r\nX1Y1D01*\rFSD\n\rM02*\rX2Y2D01*\nFSFSD\r\nG04 end*",
    std::string(70, 'x') + '\0' + std::string(60, 'y') + "\r\rFSD\n" + std::string(40, 'z'),
};

TEST(LineConverter, ChunksGiveTheBytesOfTheWholeFile) {
  platform::LeadByteSet lead_bytes{};
  lead_bytes[0x81] = true;
  const Conversion conversions[] = {{true, &platform::kNoLeadBytes, false, {}},
                                    {true, &lead_bytes, false, {}},
                                    {false, &platform::kNoLeadBytes, true, "INCH,LZ\n\r\nT01\r\n"}};
  for (const auto& conversion : conversions) {
    for (const auto& text : kTexts) {
      const auto whole = RewriteWholeFile(text, conversion);
      const bool not_text = text.find('\0') != std::string::npos;
      for (std::size_t first = 0; first <= text.size(); ++first) {
        for (std::size_t second = 0; second <= text.size() - first; ++second) {
          bool zero = false;
          const auto chunked =
              RewriteInChunks(text, conversion, std::vector<std::size_t>{first, second}, zero);
          ASSERT_EQ(zero, not_text) << text;
          ASSERT_TRUE(not_text || chunked == whole) << text << " cut at " << first << "+" << second;
        }
      }
    }
  }
}

}  // namespace
