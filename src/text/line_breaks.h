#pragma once

#include <cstdint>
#include <string>

// The line rules of every file camfix reads and writes. CR LF, a lone LF and
// a lone CR each end one line (so LF CR is two line ends); a line end at the
// very end adds no empty line; the last line needs no line end.

// A text in canonical form: every line followed by CR LF, nothing else.
struct CanonicalText {
  std::string bytes;
  std::int64_t line_count = 0;
};

// Brings `text` to canonical form. Takes the text over, so a text that is
// canonical already costs no copy.
CanonicalText ToCanonicalLines(std::string text);
