#pragma once

#include <cstdint>
#include <string_view>

#include "platform/native_handle.h"

// Buffered standard input and output. The operations never raise: a failure
// leaves its code in PendingConsoleError, and CheckConsoleError, which callers
// run after each console statement, raises EInOutError for it. Bytes pass
// unchanged both ways; only a console window (Windows) is handed the
// characters they stand for in the ANSI code page. No operation allocates.

inline constexpr std::uint32_t ConsoleBufferSize = 128;

// One stream over a standard handle, opened on first use.
struct ConsoleStream {
  enum class Mode { Closed, Reading, Writing };

  platform::NativeHandle handle = platform::kInvalidHandle;
  Mode mode = Mode::Closed;
  std::uint32_t position = 0;   // input: next byte to deliver; output: bytes pending
  std::uint32_t end = 0;        // input: valid bytes in buffer
  bool FlushAtLineEnd = false;  // output to a character device: write at each line end
  char buffer[ConsoleBufferSize] = {};
};

extern ConsoleStream ConsoleInput;
extern ConsoleStream ConsoleOutput;

// 0, a platform code, or one of the streams' own codes below. The program
// touches the console from its own thread only, so one code serves it.
extern std::int32_t PendingConsoleError;
inline constexpr std::int32_t kInputOpenFailed = 104;
inline constexpr std::int32_t kOutputOpenFailed = 105;

// Writes `text` byte for byte, then CR LF.
void WriteLine(std::string_view text);
// Writes one byte.
void WriteChar(char byte);
// Writes CR LF; on a character device, hands the pending line to the platform.
void WriteLineEnd();

// The next input byte, or 26 at end of input (also after a failure). Only LF
// ends a line; a byte 26 or a read of nothing ends the input for good.
char ReadKeyChar();
// Consumes input up to and including the next LF, or to the end of input.
void DiscardLine();

// Hands pending output to the platform.
void FlushOutput();
// The orderly end of the streams: pending output is handed over.
void CloseConsoleStreams();

// Raises EInOutError for a pending code and clears it. The error is raised as
// from the caller's place after the call.
void CheckConsoleError();

// The message EInOutError carries for `code`: words for 100, 101 and 106
// and, where codes are Windows codes, for 2 to 5; otherwise "I/O error
// <code>", composed in `scratch` (the streams' own 104 and 105 too).
const char* InOutErrorMessage(std::int32_t code, char (&scratch)[32]);

// Puts both streams back to their state at start-up; for tests.
void ResetConsoleStreams();
