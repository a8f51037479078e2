#include "text/string_list.h"

#include <cstring>

#include "text/exceptions.h"
#include "text/file_stream.h"
#include "text/line_breaks.h"
#include "text/text_ops.h"

std::int64_t TStringList::LineCount() const {
  std::int64_t count = 0;
  for (const auto& run : runs_) count += run.lines;
  return count;
}

std::string_view TStringList::Bytes(const Run& run) const {
  return std::string_view(buffers_[run.buffer]).substr(run.offset, run.length);
}

std::size_t TStringList::JoinedSize() const {
  std::size_t size = 0;
  for (const auto& run : runs_) size += run.joined_length;
  return size;
}

std::string TStringList::JoinedText() const {
  auto text = BlankText(JoinedSize());
  char* dest = text.data();
  for (const auto& run : runs_) {
    const auto bytes = Bytes(run);
    if (run.single_line) {
      std::memcpy(dest, bytes.data(), bytes.size());
      std::memcpy(dest + bytes.size(), "\r\n", 2);
    } else {
      WriteCanonical(bytes, {run.lines, run.joined_length, run.canonical, false}, dest);
    }
    dest += run.joined_length;
  }
  return text;
}

void TStringList::ReplaceAllText(std::string text) {
  // The old lines go first, so that a huge file is never held twice.
  buffers_.clear();
  runs_.clear();
  const auto shape = MeasureLines(text);
  holds_zero_byte_ = shape.holds_zero_byte;
  if (shape.lines == 0) return;
  const auto length = text.size();
  buffers_.push_back(std::move(text));
  runs_.push_back({0, 0, length, shape.canonical_size, shape.lines, false, shape.canonical});
}

void TStringList::SplitRunAt(std::size_t index, std::int64_t line) {
  const Run run = runs_[index];
  const auto cut = SkipLines(Bytes(run), line);
  const auto head = MeasureLines(Bytes(run).substr(0, cut));
  runs_[index] = {run.buffer, run.offset, cut, head.canonical_size, line, false, run.canonical};
  runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
               {run.buffer, run.offset + cut, run.length - cut,
                run.joined_length - head.canonical_size, run.lines - line, false, run.canonical});
}

void TStringList::InsertLine(std::int64_t index, std::string line) {
  if (index < 0 || index > LineCount()) {
    Raise(EStringListError("List index out of bounds (" + IntegerToText(index) + ")"));
  }
  std::size_t at = 0;
  std::int64_t first = 0;
  while (at < runs_.size() && first + runs_[at].lines <= index) first += runs_[at++].lines;
  if (at < runs_.size() && index > first) SplitRunAt(at++, index - first);

  holds_zero_byte_ = holds_zero_byte_ || line.find('\0') != std::string::npos;
  const auto length = line.size();
  buffers_.push_back(std::move(line));
  runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(at),
               {buffers_.size() - 1, 0, length, length + 2, 1, true, false});
}

void TStringList::LoadLines(const std::string& path) { ReplaceAllText(ReadFileBytes(path)); }

void TStringList::SaveLines(const std::string& path) const {
  if (runs_.size() == 1 && runs_.front().canonical) {
    ReplaceFileBytes(path, Bytes(runs_.front()));
    return;
  }
  ReplaceFileBytes(path, JoinedText());
}
