#include "platform/code_page.h"

#include <windows.h>

#include "platform/wide_text_win32.h"

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

// `wide` in `code_page`; a character the code page cannot hold becomes its
// default character ("?" for the ANSI code pages).
std::string Narrowed(UINT code_page, std::wstring_view wide) {
  if (wide.empty()) return {};
  const auto length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(code_page, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, wide.data(), length, text.data(), size, nullptr, nullptr);
  return text;
}

}  // namespace

const LeadByteSet& SystemLeadBytes() {
  static const LeadByteSet lead_bytes = ReadLeadBytes();
  return lead_bytes;
}

// The code page of the "A" file calls, so that a name shows as it did when
// camfix listed folders through them.
std::string AnsiText(const std::string& name) { return Narrowed(CP_ACP, WideText(name)); }

// The console shows the bytes 0x80 to 0x9F as characters of its code page.
std::string ConsoleSafeText(std::string_view text, std::string_view kept) {
  std::string shown(text);
  for (auto& byte : shown) {
    const bool shown_as_is = kept.find(byte) != std::string_view::npos;
    if (IsControlByte(static_cast<unsigned char>(byte)) && !shown_as_is) byte = '?';
  }
  return shown;
}

void ConvertToOem(char* text) { CharToOemA(text, text); }

std::wstring WideText(std::string_view utf8) {
  if (utf8.empty()) return {};
  const auto length = static_cast<int>(utf8.size());
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), size);
  return wide;
}

std::string Utf8Text(std::wstring_view wide) { return Narrowed(CP_UTF8, wide); }

}  // namespace platform
