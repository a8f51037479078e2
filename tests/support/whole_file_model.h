#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/line_converter.h"
#include "text/text_ops.h"

// The rewrite of a whole file the plain way, line by line, as the reference
// for the chunked converter: split by the line rules, put the second line in
// after the first, join with CR LF, then replace "FSD" in the joined text.
inline std::string RewriteWholeFile(std::string_view text, const Conversion& conversion) {
  std::string joined;
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size(); ++lines) {
    const auto end = std::min(text.find_first_of("\r\n", at), text.size());
    joined.append(text.substr(at, end - at)).append("\r\n");
    if (lines == 0 && conversion.insert_second_line) joined += conversion.second_line + "\r\n";
    at = end;
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
  }
  if (!conversion.replace_fsd) return joined;
  return ReplaceEvery(joined, "FSD", "FSL", *conversion.lead_bytes);
}

// The same through the converter, the text cut into chunks where `cut_after`
// says (each cut ends a chunk after that many bytes of the rest).
inline std::string RewriteInChunks(std::string_view text, const Conversion& conversion,
                                   const std::vector<std::size_t>& cut_after, bool& holds_zero_byte) {
  LineConverter converter(conversion);
  std::string out;
  const auto feed = [&](std::string_view chunk) {
    std::string buffer(converter.OutputCapacity(chunk.size()), '\0');
    out.append(buffer.data(), converter.Convert(chunk, buffer.data()));
  };
  for (auto cut : cut_after) {
    const auto size = std::min<std::size_t>(cut, text.size());
    feed(text.substr(0, size));
    text.remove_prefix(size);
  }
  feed(text);
  std::string buffer(converter.OutputCapacity(0), '\0');
  out.append(buffer.data(), converter.Finish(buffer.data()));
  holds_zero_byte = converter.SawZeroByte();
  return out;
}
