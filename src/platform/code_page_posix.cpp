#include "platform/code_page.h"

namespace platform {

namespace {

bool InRange(std::string_view text, std::size_t at, unsigned char low, unsigned char high) {
  if (at >= text.size()) return false;
  const auto byte = static_cast<unsigned char>(text[at]);
  return byte >= low && byte <= high;
}

// The length of the valid UTF-8 sequence that begins `text` (no overlong
// form, no surrogate, nothing beyond U+10FFFF); 1 for a byte below 0x80 and
// 0 for a byte that begins no valid sequence.
std::size_t Utf8Length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  // The range of the second byte, and how many bytes follow it (0x80-0xBF).
  unsigned char low = 0x80, high = 0xBF;
  std::size_t rest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    rest = 0;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    rest = 1;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    rest = 2;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (!InRange(text, 1, low, high)) return 0;
  for (std::size_t at = 2; at < 2 + rest; ++at) {
    if (!InRange(text, at, 0x80, 0xBF)) return 0;
  }
  return 2 + rest;
}

// U+0080 to U+009F, or a byte 0x80 to 0x9F on its own.
bool IsC1Control(std::string_view text, std::size_t length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (length == 0) return lead >= 0x80 && lead <= 0x9F;
  return length == 2 && lead == 0xC2 && static_cast<unsigned char>(text[1]) <= 0x9F;
}

}  // namespace

// File names and texts are bytes here: no double-byte rule, no conversion.
const LeadByteSet& SystemLeadBytes() { return kNoLeadBytes; }

std::string AnsiText(const std::string& name) { return name; }

std::string ConsoleSafeText(std::string_view text, std::string_view kept) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const auto rest = text.substr(at);
    const auto length = Utf8Length(rest);
    const auto size = length == 0 ? 1 : length;
    const bool control =
        IsC1Control(rest, length) || (IsControlByte(static_cast<unsigned char>(rest[0])) &&
                                      kept.find(rest[0]) == std::string_view::npos);
    if (control) {
      shown += '?';
    } else {
      shown.append(rest.substr(0, size));
    }
    at += size;
  }
  return shown;
}

void ConvertToOem(char* /*text*/) {}

}  // namespace platform
