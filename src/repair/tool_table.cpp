#include "repair/tool_table.h"

#include <algorithm>

#include "platform/code_page.h"
#include "text/text_ops.h"

namespace {

constexpr std::string_view kHeading = "T-Code   Size";
constexpr std::string_view kEndMark = "----";

// The last bytes of `text` that may begin a `mark` cut by a chunk's edge.
std::size_t SeamStart(const std::string& text, std::string_view mark) {
  return text.size() - std::min(text.size(), mark.size() - 1);
}

}  // namespace

void ToolTableCut::Take(std::string_view text) {
  switch (stage_) {
    case Stage::kSeekingHeading: return SeekHeading(text);
    case Stage::kSkipping: return Skip(text);
    case Stage::kCollecting: return Collect(text);
    case Stage::kDone: return;
  }
}

std::string ToolTableCut::Table() const {
  if (stage_ != Stage::kDone || TooLong()) return {};
  return ReplaceEvery(held_, "      .", "C0.", platform::SystemLeadBytes());
}

void ToolTableCut::SeekHeading(std::string_view text) {
  held_.append(text);
  const auto at = held_.find(kHeading);
  if (at == std::string::npos) {
    held_.erase(0, SeamStart(held_, kHeading));
    return;
  }
  const std::string rest = held_.substr(at);
  held_ = {};
  stage_ = Stage::kSkipping;
  Skip(rest);
}

void ToolTableCut::Skip(std::string_view text) {
  const auto skipped = std::min(to_skip_, text.size());
  to_skip_ -= skipped;
  if (to_skip_ > 0) return;
  stage_ = Stage::kCollecting;
  Collect(text.substr(skipped));
}

// Once more than `most_` bytes are surely the table's, only the bytes that
// may begin an end mark are held.
void ToolTableCut::Collect(std::string_view text) {
  const auto from = SeamStart(held_, kEndMark);
  held_.append(text);
  const auto end = held_.find(kEndMark, from);
  if (end != std::string::npos) {
    held_.resize(end);
    stage_ = Stage::kDone;
    return;
  }
  const auto surely_table = SeamStart(held_, kEndMark);
  if (dropped_ == 0 && surely_table <= most_) return;
  dropped_ += surely_table;
  held_.erase(0, surely_table);
}
