#include "text/text_ops.h"

#include <algorithm>
#include <cstring>


std::int64_t FindText(std::string_view needle, std::string_view text) {
  if (needle.empty()) return 0;
  const auto at = text.find(needle);
  return at == std::string_view::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

std::string CopyText(std::string_view text, std::int64_t position, std::int64_t count) {
  const auto size = static_cast<std::int64_t>(text.size());
  position = std::max<std::int64_t>(position, 1);
  if (position > size || count < 1) return {};
  const auto available = size - position + 1;
  return std::string(text.substr(static_cast<std::size_t>(position - 1),
                                 static_cast<std::size_t>(std::min(count, available))));
}

namespace {

bool HasLeadBytes(const platform::LeadByteSet& lead_bytes) {
  return std::find(lead_bytes.begin(), lead_bytes.end(), true) != lead_bytes.end();
}

// True when `at` is the second byte of a double-byte character: the run of
// lead bytes just before it, counted no further back than `from`, is odd.
bool IsTrailByte(std::string_view text, std::size_t from, std::size_t at,
                 const platform::LeadByteSet& lead_bytes) {
  std::size_t run = 0;
  while (at - run > from && lead_bytes[static_cast<unsigned char>(text[at - run - 1])]) ++run;
  return run % 2 == 1;
}

// First occurrence of `needle` in the rest of `text` that starts at `rest`.
std::size_t FindOccurrence(std::string_view text, std::string_view needle, std::size_t rest,
                           const platform::LeadByteSet& lead_bytes, bool double_byte) {
  for (auto at = text.find(needle, rest); at != std::string_view::npos;
       at = text.find(needle, at + 1)) {
    if (!double_byte || !IsTrailByte(text, rest, at, lead_bytes)) return at;
  }
  return std::string_view::npos;
}

// Equal lengths and no lead bytes: overwrite each occurrence where it stands.
void ReplaceInPlace(std::string& text, std::string_view old_text, std::string_view new_text) {
  const std::string_view view = text;
  for (auto at = view.find(old_text); at != std::string_view::npos;
       at = view.find(old_text, at + old_text.size())) {
    std::memcpy(text.data() + at, new_text.data(), new_text.size());
  }
}

}  // namespace

std::string ReplaceEvery(std::string text, std::string_view old_text, std::string_view new_text,
                         const platform::LeadByteSet& lead_bytes) {
  if (old_text.empty() || text.size() < old_text.size()) return text;
  const bool double_byte = HasLeadBytes(lead_bytes);
  if (!double_byte && old_text.size() == new_text.size()) {
    ReplaceInPlace(text, old_text, new_text);
    return text;
  }
  const std::string_view source = text;
  std::string result;
  std::size_t rest = 0;
  for (;;) {
    const auto at = FindOccurrence(source, old_text, rest, lead_bytes, double_byte);
    if (at == std::string_view::npos) break;
    result.append(source, rest, at - rest).append(new_text);
    rest = at + old_text.size();
  }
  if (rest == 0) return text;
  result.append(source, rest);
  return result;
}

std::string IntegerToText(std::int64_t value) { return std::to_string(value); }
