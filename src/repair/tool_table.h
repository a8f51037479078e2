#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The tool table of a drill report, cut while the report's text (every line
// ended by CR LF) streams by: the text from the 14th byte after the start of
// the heading "T-Code   Size" (the heading line's LF) up to the first "----"
// after that, with "C0." for every six spaces and a point. Empty when the
// heading or the end mark is missing. It holds the table and a few bytes of
// the report, never the rest of it.
class ToolTableCut {
 public:
  // The next bytes of the report; a heading or end mark may be cut anywhere.
  void Take(std::string_view text);
  // The table of what was taken.
  std::string Table() const;

 private:
  enum class Stage { kSeekingHeading, kSkipping, kCollecting, kDone };
  void SeekHeading(std::string_view text);
  void Skip(std::string_view text);
  void Collect(std::string_view text);

  Stage stage_ = Stage::kSeekingHeading;
  std::string held_;          // the end of the text before the heading; then the table
  std::size_t to_skip_ = 14;  // of the heading and the byte after it
};
