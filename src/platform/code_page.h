#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// The system's ANSI code page as far as camfix needs it: which bytes begin a
// double-byte character, how a file name is shown on the console, and the
// OEM conversion of the fatal report.

// The lead bytes of a double-byte code page; all false for a single-byte one.
using LeadByteSet = std::array<bool, 256>;
inline constexpr LeadByteSet kNoLeadBytes{};

// The lead bytes of the system's ANSI code page, fixed on first use.
const LeadByteSet& SystemLeadBytes();

// The lead bytes that `ranges` names: pairs of first and last lead byte, as a
// code page's information gives them, ended by a pair of zeros or the end.
LeadByteSet LeadBytesFromRanges(std::span<const unsigned char> ranges);

// The part of `path` after the last of any of `separators`. The path is read
// character by character, so the second byte of a double-byte character (it
// may be 0x5C, a backslash) never counts as a separator; a lead byte at the
// very end ends the walk.
const char* FileNameAfter(const char* path, std::string_view separators,
                          const LeadByteSet& lead_bytes);

// A name or path as the platform spells it (bytes on POSIX, UTF-8 on Windows)
// in the console's text: "?" for each control byte (0x00 to 0x1F and 0x7F),
// which could move the cursor, clear the screen or start a forged line; on
// Windows in the ANSI code page, with "?" also for each character that the
// code page cannot hold. Every other name prints byte for byte.
std::string ConsoleText(const std::string& name);

// The same in the ANSI code page, control bytes kept.
std::string AnsiText(const std::string& name);

// Converts a zero-terminated text from the ANSI to the OEM code page in
// place; nothing on platforms without the two.
void ConvertToOem(char* text);

}  // namespace platform
