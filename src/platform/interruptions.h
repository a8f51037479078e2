#pragma once

#include <string>

namespace platform {

// What ends the process from outside (POSIX: every signal that would end it
// and can be caught; Windows: Ctrl+C, Ctrl+Break, a closed console, logoff,
// shutdown) removes one temporary file first, and can be held back while a
// file is being changed in place.

// The file an interruption removes before the process ends; empty for none.
// A name too long for the fixed storage is not kept: cut, it could name
// another file.
void RemoveOnInterruption(const std::string& name);

// Holds interruptions back while it lives; one that came meanwhile is acted
// on when the outermost hold ends.
class InterruptionsHeld {
 public:
  InterruptionsHeld();
  ~InterruptionsHeld();
  InterruptionsHeld(const InterruptionsHeld&) = delete;
  InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;
};

// For the backends, which supply the other three.
namespace interruptions {

// Installs the handler, which calls RemoveNamedFile and then ends the process.
void InstallHandler();
void Hold();
void Release();
// Removes the file that RemoveOnInterruption named; from the handler, so it
// allocates nothing.
void RemoveNamedFile();
// Removes `name` (UTF-8 on Windows) without allocating.
void RemoveFileNow(const char* name);

}  // namespace interruptions

}  // namespace platform
