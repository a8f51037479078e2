#include <cassert>

#include "text/line_breaks.h"
#include "text/string_list.h"

// Canonical form and line list against a byte-by-byte reading of the line rules.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string model;
  std::int64_t lines = 0;
  for (std::size_t at = 0; at < size; ++at) {
    const bool ends = text[at] == '\r' || text[at] == '\n';
    if (text[at] == '\r' && at + 1 < size && text[at + 1] == '\n') ++at;
    model += ends ? std::string("\r\n") : std::string(1, text[at]);
    lines += ends || at + 1 == size ? 1 : 0;
  }
  if (size > 0 && text.back() != '\r' && text.back() != '\n') model += "\r\n";
  const auto shape = MeasureLines(text);
  assert(shape.lines == lines && shape.canonical_size == model.size());
  assert(shape.canonical == (model == text) && shape.holds_zero_byte == (text.find('\0') < size));
  const auto canonical = ToCanonicalLines(text);
  assert(canonical.bytes == model && canonical.line_count == lines);

  TStringList list;
  list.ReplaceAllText(text);
  assert(list.JoinedText() == model && list.LineCount() == lines);
  const auto index = static_cast<std::int64_t>(size % static_cast<std::size_t>(lines + 1));
  std::size_t cut = 0;
  for (auto passed = index; passed > 0; --passed) cut = model.find('\n', cut) + 1;
  list.InsertLine(index, text.substr(0, 3));
  assert(list.JoinedText() == model.insert(cut, text.substr(0, 3) + "\r\n"));
  return 0;
}
