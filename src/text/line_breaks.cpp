#include "text/line_breaks.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// No CR anywhere: each LF ends a line and gains a CR before it.
CanonicalText FromLfOnly(std::string text) {
  const auto feeds = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  const bool open_end = text.back() != '\n';
  const auto lines = static_cast<std::int64_t>(feeds + (open_end ? 1 : 0));
  if (feeds == 0) return {std::move(text.append("\r\n")), lines};

  std::string out(text.size() + feeds + (open_end ? 2 : 0), '\0');
  char* dest = out.data();
  const char* from = text.data();
  const char* const end = from + text.size();
  while (from < end) {
    const char* feed = static_cast<const char*>(std::memchr(from, '\n', end - from));
    const char* line_end = feed != nullptr ? feed : end;
    std::memcpy(dest, from, line_end - from);
    dest += line_end - from;
    *dest++ = '\r';
    *dest++ = '\n';
    from = line_end + 1;
  }
  return {std::move(out), lines};
}

// Every CR is followed by LF, every LF preceded by CR, and the text ends in
// CR LF. As many CRs as LFs, each LF right after a CR, means no CR stands
// alone either. Counted branch-free in byte-wide blocks so that the compiler
// can vectorise the loop.
bool IsCanonical(std::string_view text, std::int64_t& lines) {
  if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n" || text[0] == '\n') return false;
  std::size_t feeds = 0, returns = text[0] == '\r' ? 1 : 0, pairs = 0;
  for (std::size_t block = 1; block < text.size(); block += 255) {
    const std::size_t end = std::min(block + 255, text.size());
    std::uint8_t block_feeds = 0, block_returns = 0, block_pairs = 0;
    for (std::size_t at = block; at < end; ++at) {
      const bool feed = text[at] == '\n';
      block_feeds += feed;
      block_returns += text[at] == '\r';
      block_pairs += feed & (text[at - 1] == '\r');
    }
    feeds += block_feeds;
    returns += block_returns;
    pairs += block_pairs;
  }
  lines = static_cast<std::int64_t>(feeds);
  return feeds == returns && feeds == pairs;
}

CanonicalText FromMixed(std::string_view text) {
  CanonicalText result;
  result.bytes.reserve(text.size() + text.size() / 16 + 2);
  std::size_t at = 0;
  while (at < text.size()) {
    const auto end = std::min(text.find_first_of("\r\n", at), text.size());
    result.bytes.append(text, at, end - at).append("\r\n");
    ++result.line_count;
    at = end;
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
  }
  return result;
}

}  // namespace

CanonicalText ToCanonicalLines(std::string text) {
  if (text.empty()) return {};
  if (std::memchr(text.data(), '\r', text.size()) == nullptr) return FromLfOnly(std::move(text));
  std::int64_t lines = 0;
  if (IsCanonical(text, lines)) return {std::move(text), lines};
  return FromMixed(text);
}
