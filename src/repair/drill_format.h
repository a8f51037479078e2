#pragma once

#include <string_view>

// Whether the head of a drill file (its first bytes) declares units or a zero
// format of its own, other than the "INCH,LZ" that camfix puts in: an INCH or
// METRIC statement, alone or with fields after a comma ("METRIC,TZ",
// "INCH,LZ,00.0000"), or M71 or M72, letter case and surrounding blanks
// ignored, in the file's header. The header is what stands between "M48" and
// the next "%" or "M95"; in a file without M48, the lines before its first
// hole (a line that starts with X or Y). Comments (";") declare nothing. A
// unit switch among the holes is no declaration: it leaves the zero format
// to the reader, as the design package's own files do.
bool DeclaresOwnFormat(std::string_view head);
