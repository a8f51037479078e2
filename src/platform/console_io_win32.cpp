#include "platform/console_io.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE AsHandle(NativeHandle handle) { return reinterpret_cast<HANDLE>(handle); }

NativeHandle StandardHandle(DWORD which) {
  return reinterpret_cast<NativeHandle>(GetStdHandle(which));
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

bool ErrorCodesAreWindows() { return true; }

void CloseNativeHandle(NativeHandle handle) { CloseHandle(AsHandle(handle)); }

}  // namespace platform
