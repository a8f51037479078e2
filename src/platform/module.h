#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Where code lives, for the fatal report.

// The module that holds `address`: its full file name into `path` (at most
// `capacity` bytes with the terminator) and its load address. False when the
// address lies in no module.
bool LocateModule(std::uintptr_t address, char* path, std::size_t capacity, std::uintptr_t& base);

// The full file name of the program itself.
void ProgramFileName(char* path, std::size_t capacity);

// The part of `path` after its last directory separator. On Windows the path
// is read as characters of the ANSI code page, so the second byte of a
// double-byte character is never taken for a backslash.
const char* FileNameOf(const char* path);

}  // namespace platform
