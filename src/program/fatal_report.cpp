#include "program/fatal_report.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "console/console_streams.h"
#include "platform/code_page.h"
#include "platform/console_io.h"
#include "platform/module.h"
#include "platform/process.h"
#include "program/main_sequence.h"
#include "program/own_window.h"
#include "text/exceptions.h"

namespace {

// The one out-of-memory error, made at start-up so that raising it needs no memory.
EOutOfMemory* out_of_memory_error = nullptr;

constexpr std::size_t kModulePathCapacity = 261;
constexpr std::size_t kReportCapacity = 1024;

// Appends to fixed storage and stops, mid-field if need be, at the capacity.
class ReportWriter {
 public:
  ReportWriter(char* out, std::size_t capacity) : out_(out), limit_(capacity - 1) {}
  void Append(std::string_view text) {
    const auto room = limit_ - length_;
    const auto take = text.size() < room ? text.size() : room;
    std::memcpy(out_ + length_, text.data(), take);
    length_ += take;
  }
  std::size_t Finish() {
    out_[length_] = '\0';
    return length_;
  }

 private:
  char* out_;
  std::size_t limit_;
  std::size_t length_ = 0;
};

// The module name and the address measured from its load address.
std::string_view LocateFailure(std::uintptr_t address, char (&path)[kModulePathCapacity],
                               std::uintptr_t& offset) {
  std::uintptr_t base = 0;
  if (platform::LocateModule(address, path, sizeof path, base)) {
    offset = address - base;
  } else {
    platform::ProgramFileName(path, sizeof path);
    offset = address == 0 ? 0 : address - 0x1000;
  }
  return platform::FileNameOf(path);
}

[[noreturn]] void RaiseOutOfMemory() {
  out_of_memory_error->SetFailureAddress(
      reinterpret_cast<std::uintptr_t>(__builtin_return_address(0)));
  throw std::bad_alloc();
}

// Nothing has been written yet, so the line goes straight to standard output.
[[noreturn]] void WriteRuntimeErrorAndExit(int code) {
  char line[30];
  const auto length = ComposeRuntimeError(code, 0, line);
  const auto output = platform::StandardOutputHandle();
  platform::WriteConsoleBytes(output, line, static_cast<std::uint32_t>(length));
  platform::WriteConsoleBytes(output, "\r\n", 2);
  platform::ExitProcess(code);
}

void StartUp() {
  std::set_new_handler(nullptr);
  static EOutOfMemory error;
  out_of_memory_error = &error;
  std::set_new_handler(RaiseOutOfMemory);
  platform::SystemLeadBytes();
}

}  // namespace

std::size_t ComposeFatalReport(const Exception& error, std::uintptr_t address, char* report,
                               std::size_t capacity) {
  if (capacity == 0) return 0;
  char path[kModulePathCapacity];
  std::uintptr_t offset = 0;
  const auto module = LocateFailure(address, path, offset);
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08lX", static_cast<unsigned long>(offset & 0xFFFFFFFFu));
  const std::string_view message(error.Message().c_str());
  const bool needs_stop = !message.empty() && message.back() != '.';

  ReportWriter writer(report, capacity);
  writer.Append("Exception ");
  writer.Append(error.ClassName());
  writer.Append(" in module ");
  writer.Append(module.substr(0, kModulePathCapacity - 1));
  writer.Append(" at ");
  writer.Append(hex);
  writer.Append(".\r\n");
  writer.Append(message);
  writer.Append(needs_stop ? "." : "");
  writer.Append("\r\n");
  return writer.Finish();
}

void ReportFatalError(const Exception& error) {
  char report[kReportCapacity];
  const auto length = ComposeFatalReport(error, error.FailureAddress(), report, sizeof report);
  try {
    FlushOutput();
    CheckConsoleError();
  } catch (const Exception& flush_error) {
    ReportFatalError(flush_error);
  }
  platform::ConvertToOem(report);
  const auto standard_error = platform::StandardErrorHandle();
  platform::WriteConsoleBytes(standard_error, report, static_cast<std::uint32_t>(length));
  platform::WriteConsoleBytes(standard_error, "\r\n", 2);
  WaitBeforeClosing(platform::OwnConsoleWindow());
  NormalExit(1);  // nothing is held and nothing pending now, so it cannot raise
}

// Errors are C++ exceptions and end here. There is no step for an attached
// debugger: a caught C++ exception has no platform record to hand to a
// last-chance filter, and a debugger sees the throw anyway.
void CatchUnhandledError(void (*body)(int argc, char** argv), int argc, char** argv) {
  try {
    StartUp();
  } catch (const std::bad_alloc&) {
    WriteRuntimeErrorAndExit(203);
  }
  try {
    body(argc, argv);
    NormalExit(0);
  } catch (const Exception& error) {
    ReportFatalError(error);
  } catch (const std::bad_alloc&) {
    ReportFatalError(*out_of_memory_error);
  } catch (const std::exception& error) {
    ReportFatalError(Exception(error.what()));
  }
}

std::size_t ComposeRuntimeError(int code, std::uintptr_t address, char (&line)[30]) {
  return static_cast<std::size_t>(std::snprintf(line, sizeof line, "Runtime error %3d at %08lX",
                                                code, static_cast<unsigned long>(address)));
}
