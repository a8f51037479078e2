#pragma once

#include "platform/console_io.h"

// What camfix says on a console window of its own (platform::OwnConsoleWindow),
// which closes the moment camfix ends: started from Explorer, by drag-and-drop
// or by a double click. Both write to that window only and do nothing when
// the window is not camfix's own, so that a console, a pipe or a file sees no
// change.

// Before the first prompt: which folder is about to be repaired (the working
// folder), so that a wrong one can be left with Ctrl+C.
void ShowFolderToRepair(const platform::ConsoleWindow& window);

// After a report on standard error: "Press Enter to close this window." and
// a wait for Enter (or for the end of input, or a failed read), so that the
// report can be read. Allocates nothing.
void WaitBeforeClosing(const platform::ConsoleWindow& window);
