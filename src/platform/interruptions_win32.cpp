#include "platform/interruptions.h"

#include <windows.h>

namespace platform::interruptions {

namespace {

// Held by camfix's thread while interruptions wait, and taken for good by the
// console handler, which runs on a thread of its own: an interruption waits
// for a hold to end, and once it has the lock no hold begins again.
SRWLOCK interruption_lock = SRWLOCK_INIT;

// The system's handler, next in line, ends the process.
BOOL WINAPI RemoveAndEnd(DWORD /*event*/) {
  AcquireSRWLockExclusive(&interruption_lock);  // never released
  RemoveNamedFile();
  return FALSE;
}

}  // namespace

void InstallHandler() { SetConsoleCtrlHandler(RemoveAndEnd, TRUE); }

void Hold() { AcquireSRWLockExclusive(&interruption_lock); }

void Release() { ReleaseSRWLockExclusive(&interruption_lock); }

void RemoveFileNow(const char* name) {
  wchar_t wide[MAX_PATH + 1] = {};
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, wide, MAX_PATH + 1) > 0) DeleteFileW(wide);
}

}  // namespace platform::interruptions
