#include "text/string_list.h"

#include <cstring>
#include <string_view>

#include "text/exceptions.h"
#include "text/file_stream.h"
#include "text/line_breaks.h"
#include "text/text_ops.h"

std::int64_t TStringList::LineCount() const {
  std::int64_t count = 0;
  for (const auto& run : runs_) count += run.lines;
  return count;
}

std::size_t TStringList::JoinedSize() const {
  std::size_t size = 0;
  for (const auto& run : runs_) size += run.length + (run.single_line ? 2 : 0);
  return size;
}

std::string TStringList::JoinedText() const {
  std::string text(JoinedSize(), '\0');
  char* dest = text.data();
  for (const auto& run : runs_) {
    std::memcpy(dest, buffers_[run.buffer].data() + run.offset, run.length);
    dest += run.length;
    if (run.single_line) {
      *dest++ = '\r';
      *dest++ = '\n';
    }
  }
  return text;
}

void TStringList::ReplaceAllText(std::string text) {
  // The old lines go first, so that a huge file is never held twice.
  buffers_.clear();
  runs_.clear();
  holds_zero_byte_ = std::memchr(text.data(), '\0', text.size()) != nullptr;
  auto canonical = ToCanonicalLines(std::move(text));
  if (canonical.line_count == 0) return;
  const auto length = canonical.bytes.size();
  buffers_.push_back(std::move(canonical.bytes));
  runs_.push_back({0, 0, length, canonical.line_count, false});
}

void TStringList::SplitRunAt(std::size_t index, std::int64_t line) {
  const Run run = runs_[index];
  const char* const base = buffers_[run.buffer].data() + run.offset;
  std::size_t cut = 0;
  for (std::int64_t passed = 0; passed < line; ++passed) {
    cut = static_cast<std::size_t>(
              static_cast<const char*>(std::memchr(base + cut, '\n', run.length - cut)) - base) +
          1;
  }
  runs_[index] = {run.buffer, run.offset, cut, line, false};
  runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(index) + 1,
               {run.buffer, run.offset + cut, run.length - cut, run.lines - line, false});
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
               {buffers_.size() - 1, 0, length, 1, true});
}

void TStringList::LoadLines(const std::string& path) { ReplaceAllText(ReadFileBytes(path)); }

void TStringList::SaveLines(const std::string& path) const {
  if (runs_.size() == 1 && !runs_.front().single_line) {
    const auto& run = runs_.front();
    ReplaceFileBytes(path, std::string_view(buffers_[run.buffer]).substr(run.offset, run.length));
    return;
  }
  ReplaceFileBytes(path, JoinedText());
}
