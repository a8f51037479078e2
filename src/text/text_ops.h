#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/code_page.h"

// Text helpers over byte strings. Positions are 1-based, as the tool's
// messages and offsets count them; 0 means "not found".

// Position of the first occurrence of `needle` in `text`, or 0 when there is
// none or either is empty. Byte for byte, case-sensitive.
std::int64_t FindText(std::string_view needle, std::string_view text);

// At most `count` bytes of `text` from `position` on; a position below 1
// counts as 1, one past the end or a count below 1 gives the empty text.
std::string CopyText(std::string_view text, std::int64_t position, std::int64_t count);

// `text` with every occurrence of `old_text` replaced by `new_text`, found left
// to right without overlap; inserted text is never searched again. An empty
// `old_text` changes nothing. With lead bytes, an occurrence never starts on
// the second byte of a double-byte character.
std::string ReplaceEvery(std::string text, std::string_view old_text, std::string_view new_text,
                         const platform::LeadByteSet& lead_bytes = platform::kNoLeadBytes);

// Decimal digits with a leading minus when negative.
std::string IntegerToText(std::int64_t value);
