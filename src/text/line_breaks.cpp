#include "text/line_breaks.h"

#include <algorithm>
#include <cstring>

#include "text/text_ops.h"

namespace {

// Line ends become CR LF; a text without CR needs only one memchr per line.
char* WriteFromLfOnly(std::string_view text, char* out) {
  const char* from = text.data();
  const char* const end = from + text.size();
  while (from < end) {
    const char* feed = static_cast<const char*>(std::memchr(from, '\n', end - from));
    const char* line_end = feed != nullptr ? feed : end;
    out = std::copy(from, line_end, out);
    *out++ = '\r';
    *out++ = '\n';
    if (feed == nullptr) break;
    from = feed + 1;
  }
  return out;
}

char* WriteFromMixed(std::string_view text, char* out) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto end = std::min(text.find_first_of("\r\n", at), text.size());
    out = std::copy(text.data() + at, text.data() + end, out);
    *out++ = '\r';
    *out++ = '\n';
    at = end;
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
  }
  return out;
}

}  // namespace

// Counts LFs, CRs, CR LF pairs and zero bytes branch-free in byte-wide blocks,
// so that the compiler can vectorise the loop. Every line end is a CR, an LF or
// a CR LF pair; with as many CRs as LFs and each LF right after a CR, every
// line end is a pair.
LineShape MeasureLines(std::string_view text) {
  LineShape shape;
  if (text.empty()) return shape;
  std::size_t feeds = text[0] == '\n', returns = text[0] == '\r', pairs = 0, zeros = text[0] == 0;
  for (std::size_t block = 1; block < text.size(); block += 255) {
    const std::size_t end = std::min(block + 255, text.size());
    std::uint8_t block_feeds = 0, block_returns = 0, block_pairs = 0, block_zeros = 0;
    for (std::size_t at = block; at < end; ++at) {
      const bool feed = text[at] == '\n';
      block_feeds += feed;
      block_returns += text[at] == '\r';
      block_pairs += feed & (text[at - 1] == '\r');
      block_zeros += text[at] == 0;
    }
    feeds += block_feeds;
    returns += block_returns;
    pairs += block_pairs;
    zeros += block_zeros;
  }
  const bool open_end = text.back() != '\n' && text.back() != '\r';
  shape.lines = static_cast<std::int64_t>(feeds + returns - pairs + (open_end ? 1 : 0));
  shape.canonical_size = text.size() - feeds - returns + 2 * static_cast<std::size_t>(shape.lines);
  shape.canonical = feeds == returns && feeds == pairs && !open_end;
  shape.holds_zero_byte = zeros != 0;
  return shape;
}

void WriteCanonical(std::string_view text, const LineShape& shape, char* out) {
  if (shape.canonical) {
    std::memcpy(out, text.data(), text.size());
  } else if (std::memchr(text.data(), '\r', text.size()) == nullptr) {
    WriteFromLfOnly(text, out);
  } else {
    WriteFromMixed(text, out);
  }
}

std::size_t SkipLines(std::string_view text, std::int64_t count) {
  std::size_t at = 0;
  for (; count > 0 && at < text.size(); --count) {
    at = std::min(text.find_first_of("\r\n", at), text.size());
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
  }
  return at;
}

CanonicalText ToCanonicalLines(std::string text) {
  const auto shape = MeasureLines(text);
  if (shape.canonical) return {std::move(text), shape.lines};
  auto canonical = BlankText(shape.canonical_size);
  WriteCanonical(text, shape, canonical.data());
  return {std::move(canonical), shape.lines};
}
