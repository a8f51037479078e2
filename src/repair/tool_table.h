#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The tool table of a drill report, cut while the report's text (every line
// ended by CR LF) streams by: the text from the 14th byte after the start of
// the heading "T-Code   Size" (the heading line's LF) up to the first "----"
// after that, with "C0." for every six spaces and a point. Empty when the
// heading or the end mark is missing. It holds a few bytes of the report and
// at most `most` bytes of the table (and a piece the size of what it takes):
// past that it only looks for the end mark and measures the table, which
// then is to be cut again, from the report read anew, by a cut that holds
// that many bytes.
class ToolTableCut {
 public:
  static constexpr std::size_t kMostHeld = std::size_t{4} << 20;

  explicit ToolTableCut(std::size_t most = kMostHeld) : most_(most) {}
  // The next bytes of the report; a heading or end mark may be cut anywhere.
  void Take(std::string_view text);
  // The table was longer than the cut holds: Table is empty, TableSize tells
  // its length.
  bool TooLong() const { return stage_ == Stage::kDone && dropped_ > 0; }
  std::size_t TableSize() const { return dropped_ + held_.size(); }
  // The table of what was taken.
  std::string Table() const;

 private:
  enum class Stage { kSeekingHeading, kSkipping, kCollecting, kDone };
  void SeekHeading(std::string_view text);
  void Skip(std::string_view text);
  void Collect(std::string_view text);

  std::size_t most_;
  Stage stage_ = Stage::kSeekingHeading;
  std::string held_;          // the end of the text before the heading; then the table's
  std::size_t dropped_ = 0;   // bytes of the table not held, before held_
  std::size_t to_skip_ = 14;  // of the heading and the byte after it
};
