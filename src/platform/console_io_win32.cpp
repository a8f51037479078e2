#include "platform/console_io.h"

#include <algorithm>
#include <iterator>

#include <windows.h>

namespace platform {

namespace {

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

NativeHandle StandardHandle(DWORD which) {
  return reinterpret_cast<NativeHandle>(GetStdHandle(which));
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != 0;
}

// Console text goes out in pieces of at most this many bytes.
constexpr std::uint32_t kPiece = 128;

// The lead byte of a double-byte character that the end of the last console
// text cut, or 0: it goes out with the byte that completes it.
char held_lead_byte = 0;

// `piece` up to its last whole character, the rest held back, in wide characters.
bool WriteWide(HANDLE console, const char* piece, std::uint32_t size) {
  std::uint32_t whole = 0;
  while (whole < size) {
    const auto step = IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(piece[whole])) ? 2 : 1;
    if (whole + step > size) break;
    whole += step;
  }
  held_lead_byte = whole < size ? piece[whole] : '\0';
  wchar_t wide[kPiece + 1];
  const int length = MultiByteToWideChar(CP_ACP, 0, piece, static_cast<int>(whole), wide,
                                         static_cast<int>(std::size(wide)));
  DWORD put = 0;
  return length == 0 || WriteConsoleW(console, wide, static_cast<DWORD>(length), &put, nullptr);
}

}  // namespace

NativeHandle StandardInputHandle() { return StandardHandle(STD_INPUT_HANDLE); }
NativeHandle StandardOutputHandle() { return StandardHandle(STD_OUTPUT_HANDLE); }
NativeHandle StandardErrorHandle() { return StandardHandle(STD_ERROR_HANDLE); }

HandleKind ClassifyHandle(NativeHandle handle) {
  switch (GetFileType(AsHandle(handle))) {
    case FILE_TYPE_UNKNOWN: return HandleKind::kUnknown;
    case FILE_TYPE_CHAR: return HandleKind::kCharacter;
    default: return HandleKind::kOther;
  }
}

// A console delivers typed lines with CR LF already, so bytes pass as read.
IoResult ReadConsoleBytes(NativeHandle handle, char* buffer, std::uint32_t capacity) {
  DWORD got = 0;
  if (ReadFile(AsHandle(handle), buffer, capacity, &got, nullptr)) return {true, got, 0};
  const DWORD error = GetLastError();
  if (error == ERROR_BROKEN_PIPE) return {true, 0, 0};
  return {false, 0, static_cast<ErrorCode>(error)};
}

// One request; a call that succeeds counts as complete.
IoResult WriteConsoleBytes(NativeHandle handle, const char* bytes, std::uint32_t count) {
  DWORD put = 0;
  if (WriteFile(AsHandle(handle), bytes, count, &put, nullptr)) return {true, count, 0};
  return {false, 0, static_cast<ErrorCode>(GetLastError())};
}

// The console shows written bytes in its own code page, the OEM one unless
// changed; camfix's texts are in the ANSI code page, so it hands the console
// the characters instead.
IoResult WriteConsoleText(NativeHandle handle, const char* text, std::uint32_t count) {
  const HANDLE console = AsHandle(handle);
  if (!IsConsole(console)) return WriteConsoleBytes(handle, text, count);
  for (std::uint32_t done = 0; done < count;) {
    char piece[kPiece + 1];
    std::uint32_t size = 0;
    if (held_lead_byte != 0) piece[size++] = held_lead_byte;
    const std::uint32_t take = std::min(kPiece, count - done);
    std::copy_n(text + done, take, piece + size);
    if (!WriteWide(console, piece, size + take)) {
      return {false, 0, static_cast<ErrorCode>(GetLastError())};
    }
    done += take;
  }
  return {true, count, 0};
}

ConsoleWindow OwnConsoleWindow() {
  DWORD processes[2] = {};
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (GetConsoleProcessList(processes, 2) != 1 || !IsConsole(input) || !IsConsole(output) ||
      !IsConsole(GetStdHandle(STD_ERROR_HANDLE))) {
    return {};
  }
  return {true, reinterpret_cast<NativeHandle>(input), reinterpret_cast<NativeHandle>(output)};
}

bool ErrorCodesAreWindows() { return true; }

void CloseNativeHandle(NativeHandle handle) { CloseHandle(AsHandle(handle)); }

}  // namespace platform
