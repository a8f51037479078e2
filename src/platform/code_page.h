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

// A byte that every console takes as a control: 0x00 to 0x1F and 0x7F.
constexpr bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// `text` as the console may show it: "?" for each control character, which
// could move the cursor, clear the screen or start a forged line, but the
// bytes in `kept`. Control characters are the control bytes and, on POSIX,
// where a terminal reads UTF-8, the C1 controls: U+0080 to U+009F written
// as UTF-8 (one "?" for its two bytes), and a byte 0x80 to 0x9F that is no
// part of a valid UTF-8 sequence. Every other byte prints as it is.
std::string ConsoleSafeText(std::string_view text, std::string_view kept = {});

// A name or path as the platform spells it (bytes on POSIX, UTF-8 on Windows)
// in the console's text, control characters shown as by ConsoleSafeText; on
// Windows in the ANSI code page, with "?" also for each character that the
// code page cannot hold. Every other name prints byte for byte.
std::string ConsoleText(const std::string& name);

// The same in the ANSI code page, control bytes kept.
std::string AnsiText(const std::string& name);

// Converts a zero-terminated text from the ANSI to the OEM code page in
// place; nothing on platforms without the two.
void ConvertToOem(char* text);

}  // namespace platform
