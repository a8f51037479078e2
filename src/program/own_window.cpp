#include "program/own_window.h"

#include <string_view>

#include "console/console_streams.h"
#include "platform/code_page.h"
#include "platform/directory.h"

namespace {

void Show(const platform::ConsoleWindow& window, std::string_view text) {
  platform::WriteConsoleText(window.output, text.data(), static_cast<std::uint32_t>(text.size()));
}

}  // namespace

void ShowFolderToRepair(const platform::ConsoleWindow& window) {
  if (!window.own) return;
  Show(window, "camfix is about to repair the CAM files in\r\n  " +
                   platform::ConsoleText(platform::WorkingFolder()) +
                   "\r\nIf that is the wrong folder, close this window or press Ctrl+C.\r\n\r\n");
}

// A console hands over one typed line a read; a longer one comes in pieces.
void WaitBeforeClosing(const platform::ConsoleWindow& window) {
  if (!window.own) return;
  Show(window, "Press Enter to close this window.");
  char line[ConsoleBufferSize];
  for (;;) {
    const auto read = platform::ReadConsoleBytes(window.input, line, sizeof line);
    if (!read.ok || read.count == 0 || line[read.count - 1] == '\n') return;
  }
}
