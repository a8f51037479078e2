#pragma once

#include <cstdint>

#include "platform/native_handle.h"

namespace platform {

// The process's standard handles; kInvalidHandle when the platform has none.
NativeHandle StandardInputHandle();
NativeHandle StandardOutputHandle();
NativeHandle StandardErrorHandle();

// How an output handle behaves: unusable, a character device (console, null
// device) that wants each line at its end, or anything else (file, pipe).
enum class HandleKind { kUnknown, kCharacter, kOther };
HandleKind ClassifyHandle(NativeHandle handle);

struct IoResult {
  bool ok = false;
  std::uint32_t count = 0;  // bytes moved when ok
  ErrorCode error = 0;      // platform code when not ok
};

// One read of at most `capacity` bytes. A count of 0 means end of data; a pipe
// whose writer has gone counts as end of data. When the handle is a terminal
// that ends typed lines with LF alone, the LF comes back as CR LF, the way a
// console delivers lines.
IoResult ReadConsoleBytes(NativeHandle handle, char* buffer, std::uint32_t capacity);

// One write of all `count` bytes; success means the platform took them.
IoResult WriteConsoleBytes(NativeHandle handle, const char* bytes, std::uint32_t count);

// The same for text in the ANSI code page on a character device: a console
// window (Windows) is given the characters, so that a name shows as it is
// whatever code page the window shows; any other handle, and every handle on
// POSIX, takes the bytes. A double-byte character cut by the end of `text`
// is completed by the next call.
IoResult WriteConsoleText(NativeHandle handle, const char* text, std::uint32_t count);

// The console window camfix was started with, when it is camfix's alone: on
// Windows, when no other process is attached to it (Explorer, a drag-and-drop
// or a double click made it, and it closes the moment camfix ends) and
// standard input, output and error are all on it. Never on POSIX, where a
// terminal outlives the program. When not `own`, the handles are invalid.
struct ConsoleWindow {
  bool own = false;
  NativeHandle input = kInvalidHandle;
  NativeHandle output = kInvalidHandle;
};
ConsoleWindow OwnConsoleWindow();

// Whether ErrorCode values are Windows system codes, a few of which have
// words in EInOutError's message; errno values are always shown as numbers.
bool ErrorCodesAreWindows();

// Closes a handle that turned out unusable.
void CloseNativeHandle(NativeHandle handle);

}  // namespace platform
