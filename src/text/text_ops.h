#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Text helpers over byte strings. Positions are 1-based, as the tool's
// messages and offsets count them; 0 means "not found".

// The lead bytes of a double-byte code page; all false for a single-byte one.
using LeadByteSet = std::array<bool, 256>;
inline constexpr LeadByteSet kNoLeadBytes{};

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
                         const LeadByteSet& lead_bytes = kNoLeadBytes);

// The lead bytes that `ranges` names: pairs of first and last lead byte, as a
// code page's information gives them, ended by a pair of zeros or the end.
LeadByteSet LeadBytesFromRanges(std::span<const unsigned char> ranges);

// The part of `path` after the last of any of `separators`. The path is read
// character by character, so the second byte of a double-byte character (it
// may be 0x5C, a backslash) never counts as a separator; a lead byte at the
// very end ends the walk.
const char* FileNameAfter(const char* path, std::string_view separators,
                          const LeadByteSet& lead_bytes);

// A text of `size` zero bytes; a large one is backed by large pages.
std::string BlankText(std::size_t size);

// Decimal digits with a leading minus when negative.
std::string IntegerToText(std::int64_t value);
