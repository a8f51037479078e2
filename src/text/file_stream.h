#pragma once

#include <string>
#include <string_view>

// Whole-file access for the line list. Each call opens, reads or writes, and
// closes its file before it returns, also when it raises.

// The bytes of the file at `path`. Raises EFOpenError when it cannot be opened
// and EReadError when fewer bytes arrive than the file holds.
std::string ReadFileBytes(const std::string& path);

// Gives the file at `path` exactly `bytes`, all or nothing: raises
// EFCreateError when the file cannot be replaced (nothing written) and
// EWriteError when the write or the replace fails (the file keeps its old
// bytes).
void ReplaceFileBytes(const std::string& path, std::string_view bytes);

// The message of a failed open ("Cannot open file") or create ("Cannot
// create file"): the full path in double quotes and the platform's text for
// the code, without trailing blanks, control bytes and full stops.
std::string FileErrorMessage(const char* what, const std::string& path, int code);
