#include "platform/code_page.h"

#include <windows.h>

namespace platform {

namespace {

// The default ANSI code page of the thread locale; the system's when the
// locale names none.
UINT AnsiCodePage() {
  char digits[8] = {};
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, digits, sizeof digits) > 0) {
    UINT code_page = 0;
    for (const char* at = digits; *at >= '0' && *at <= '9'; ++at) {
      code_page = code_page * 10 + static_cast<UINT>(*at - '0');
    }
    if (code_page != 0) return code_page;
  }
  return GetACP();
}

LeadByteSet ReadLeadBytes() {
  CPINFO info{};
  return GetCPInfo(AnsiCodePage(), &info) ? LeadBytesFromRanges(info.LeadByte) : kNoLeadBytes;
}

}  // namespace

const LeadByteSet& SystemLeadBytes() {
  static const LeadByteSet lead_bytes = ReadLeadBytes();
  return lead_bytes;
}

// TODO(win32): UTF-8 to the ANSI code page, "?" for what it cannot hold.
std::string ConsoleText(const std::string& name) { return name; }

void ConvertToOem(char* text) { CharToOemA(text, text); }

}  // namespace platform
