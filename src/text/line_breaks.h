#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The line rules of every file camfix reads and writes. CR LF, a lone LF and
// a lone CR each end one line (so LF CR is two line ends); a line end at the
// very end adds no empty line; the last line needs no line end. A text is
// canonical when every line is followed by CR LF and nothing else.

// What one pass over a text tells about its lines.
struct LineShape {
  std::int64_t lines = 0;
  std::size_t canonical_size = 0;  // its size once every line ends in CR LF
  bool canonical = true;
  bool holds_zero_byte = false;
};

LineShape MeasureLines(std::string_view text);

// Writes the canonical form of `text`, whose shape is `shape`, to `out`,
// which has room for shape.canonical_size bytes.
void WriteCanonical(std::string_view text, const LineShape& shape, char* out);

// The offset just after the first `count` lines of `text` and their line ends.
std::size_t SkipLines(std::string_view text, std::int64_t count);

struct CanonicalText {
  std::string bytes;
  std::int64_t line_count = 0;
};

// Brings `text` to canonical form. Takes the text over, so a text that is
// canonical already costs no copy.
CanonicalText ToCanonicalLines(std::string text);
