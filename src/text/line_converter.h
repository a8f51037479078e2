#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/code_page.h"

// The rewrite of one text file as a stream of chunks, with the same bytes as
// a rewrite of the whole file at once:
// - line ends become CR LF: CR LF, a lone LF and a lone CR each end a line
//   (so LF CR is two), the last line gains a line end when it has none, and a
//   line end at the very end adds no empty line;
// - "FSD" becomes "FSL" where asked, found left to right without overlap and
//   never starting on the second byte of a double-byte character;
// - a given line goes in after the first line, as the second line.

struct Conversion {
  bool replace_fsd = false;
  const platform::LeadByteSet* lead_bytes = &platform::kNoLeadBytes;
  bool insert_second_line = false;
  std::string second_line;  // stored as it is, CR and LF bytes included
};

class LineConverter {
 public:
  explicit LineConverter(Conversion conversion);

  // Room that Convert may need for `input_size` bytes of input.
  std::size_t OutputCapacity(std::size_t input_size) const;

  // Converts the next chunk into `out` and returns the end of what it wrote.
  // Up to two bytes that may begin an "FSD" are held back for the next call.
  char* Convert(std::string_view input, char* out);

  // Ends the text into `out` (room: OutputCapacity(0)): held bytes, the
  // last line's line end, and the second line after a first line that had
  // no line end.
  char* Finish(char* out);

  bool SawZeroByte() const { return saw_zero_byte_; }
  // False for a text without lines: one without any byte.
  bool HasLines() const { return saw_input_; }

 private:
  char* EndLine(char* out);
  char* ConvertLineEnds(std::string_view input, char* out);
  char* ReplaceFsd(char* from, char* end);
  char* ReplaceFsdBetweenCharacters(char* from, char* end);

  Conversion conversion_;
  bool after_cr_ = false;  // the last byte converted was a CR
  bool saw_input_ = false;
  bool last_was_line_end_ = false;
  bool saw_zero_byte_ = false;
  bool trail_ = false;  // double-byte rule: the next byte is a second byte
  char held_[2] = {};
  std::size_t held_size_ = 0;
};
