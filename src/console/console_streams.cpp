#include "console/console_streams.h"

#include <cstdio>
#include <cstring>

#include "platform/console_io.h"
#include "text/exceptions.h"

ConsoleStream ConsoleInput;
ConsoleStream ConsoleOutput;
std::int32_t PendingConsoleError = 0;

namespace {

constexpr char kEndOfInput = 26;
using Mode = ConsoleStream::Mode;

bool OpenInput() {
  ConsoleInput.position = 0;
  ConsoleInput.end = 0;
  ConsoleInput.mode = Mode::Reading;
  ConsoleInput.handle = platform::StandardInputHandle();
  if (ConsoleInput.handle == platform::kInvalidHandle) {
    ConsoleInput.mode = Mode::Closed;
    PendingConsoleError = kInputOpenFailed;
    return false;
  }
  return true;
}

bool OpenOutput() {
  ConsoleOutput.position = 0;
  ConsoleOutput.mode = Mode::Writing;
  ConsoleOutput.FlushAtLineEnd = false;
  ConsoleOutput.handle = platform::StandardOutputHandle();
  const auto kind = ConsoleOutput.handle == platform::kInvalidHandle
                        ? platform::HandleKind::kUnknown
                        : platform::ClassifyHandle(ConsoleOutput.handle);
  if (kind == platform::HandleKind::kUnknown) {
    if (ConsoleOutput.handle != platform::kInvalidHandle) {
      platform::CloseNativeHandle(ConsoleOutput.handle);
    }
    ConsoleOutput.mode = Mode::Closed;
    PendingConsoleError = kOutputOpenFailed;
    return false;
  }
  ConsoleOutput.FlushAtLineEnd = kind == platform::HandleKind::kCharacter;
  return true;
}

bool OutputReady() { return ConsoleOutput.mode == Mode::Writing || OpenOutput(); }

void RefillInput() {
  ConsoleInput.position = 0;
  ConsoleInput.end = 0;
  const auto result =
      platform::ReadConsoleBytes(ConsoleInput.handle, ConsoleInput.buffer, ConsoleBufferSize);
  if (!result.ok) {
    PendingConsoleError = result.error;
    return;
  }
  ConsoleInput.end = result.count;
  if (result.count == 0) {
    ConsoleInput.buffer[0] = kEndOfInput;
    ConsoleInput.end = 1;
  }
}

// One input byte, or false at end of input.
bool NextInputByte(char& byte) {
  if (ConsoleInput.mode != Mode::Reading && !OpenInput()) return false;
  if (ConsoleInput.position >= ConsoleInput.end) RefillInput();
  if (ConsoleInput.position >= ConsoleInput.end) return false;
  byte = ConsoleInput.buffer[ConsoleInput.position];
  if (byte == kEndOfInput) return false;
  ++ConsoleInput.position;
  return true;
}

// Hands the pending bytes to the platform; on failure they are lost. A
// character device may be a console window, which is given the text.
bool WriteOutBuffer() {
  if (ConsoleOutput.position == 0) return true;
  const auto write =
      ConsoleOutput.FlushAtLineEnd ? platform::WriteConsoleText : platform::WriteConsoleBytes;
  const auto result = write(ConsoleOutput.handle, ConsoleOutput.buffer, ConsoleOutput.position);
  ConsoleOutput.position = 0;
  if (!result.ok) PendingConsoleError = result.error;
  return result.ok;
}

void AppendBytes(std::string_view bytes) {
  while (bytes.size() >= ConsoleBufferSize - ConsoleOutput.position) {
    const auto room = ConsoleBufferSize - ConsoleOutput.position;
    std::memcpy(ConsoleOutput.buffer + ConsoleOutput.position, bytes.data(), room);
    ConsoleOutput.position = ConsoleBufferSize;
    bytes.remove_prefix(room);
    if (!WriteOutBuffer()) return;
  }
  std::memcpy(ConsoleOutput.buffer + ConsoleOutput.position, bytes.data(), bytes.size());
  ConsoleOutput.position += static_cast<std::uint32_t>(bytes.size());
}

}  // namespace

void WriteLine(std::string_view text) {
  if (OutputReady()) AppendBytes(text);
  WriteLineEnd();
}

void WriteLineEnd() {
  if (!OutputReady()) return;
  AppendBytes("\r\n");
  if (ConsoleOutput.FlushAtLineEnd) WriteOutBuffer();
}

void WriteChar(char byte) {
  if (!OutputReady()) return;
  if (ConsoleOutput.position == ConsoleBufferSize && !WriteOutBuffer()) return;
  ConsoleOutput.buffer[ConsoleOutput.position++] = byte;
}

char ReadKeyChar() {
  char byte = kEndOfInput;
  return NextInputByte(byte) ? byte : kEndOfInput;
}

// Only LF ends the line: a CR, alone or before another byte, is consumed
// like any other byte.
void DiscardLine() {
  char byte = 0;
  while (NextInputByte(byte) && byte != '\n') {
  }
}

void FlushOutput() {
  if (ConsoleOutput.mode == Mode::Writing) WriteOutBuffer();
}

void CloseConsoleStreams() { FlushOutput(); }

// An errno value that happens to equal a Windows code with words is shown as
// its number: errno 5 is EIO, not a denied access.
const char* InOutErrorMessage(std::int32_t code, char (&scratch)[32]) {
  const bool own_code = code >= 100 && code <= 106;
  switch (own_code || platform::ErrorCodesAreWindows() ? code : 0) {
    case 2: return "File not found";
    case 3: return "Invalid filename";
    case 4: return "Too many open files";
    case 5: return "File access denied";
    case 100: return "Read beyond end of file";
    case 101: return "Disk full";
    case 106: return "Invalid numeric input";
    default:
      std::snprintf(scratch, sizeof scratch, "I/O error %d", static_cast<int>(code));
      return scratch;
  }
}

[[gnu::noinline]] void CheckConsoleError() {
  if (PendingConsoleError == 0) return;
  const auto code = PendingConsoleError;
  PendingConsoleError = 0;
  char scratch[32];
  RaiseAt(EInOutError(InOutErrorMessage(code, scratch), code),
          reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
}

void ResetConsoleStreams() {
  ConsoleInput = ConsoleStream{};
  ConsoleOutput = ConsoleStream{};
  PendingConsoleError = 0;
}
