#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The line list: camfix's model of a text file, an ordered sequence of lines
// without their line ends. Files are split by the rules of line_breaks.h and
// written back with CR LF after every line.
class TStrings {
 public:
  virtual ~TStrings() = default;

  virtual std::int64_t LineCount() const = 0;
  // All lines, each followed by CR LF.
  virtual std::string JoinedText() const = 0;
  // Replaces all lines by the lines of `text`.
  virtual void ReplaceAllText(std::string text) = 0;
  // Places `line` as one line, unsplit, at `index` (0 to LineCount());
  // raises EStringListError "List index out of bounds (%d)" otherwise.
  virtual void InsertLine(std::int64_t index, std::string line) = 0;
  // Replaces all lines by the lines of the file; on failure keeps them.
  virtual void LoadLines(const std::string& path) = 0;
  // Gives the file exactly JoinedText(), all or nothing.
  virtual void SaveLines(const std::string& path) const = 0;
};

// Holds its lines in a few large buffers instead of one string per line: a
// loaded file stays one buffer as it was read, brought to CR LF only when the
// list is joined, and an inserted line splits it into views of that buffer.
class TStringList : public TStrings {
 public:
  std::int64_t LineCount() const override;
  std::string JoinedText() const override;
  void ReplaceAllText(std::string text) override;
  void InsertLine(std::int64_t index, std::string line) override;
  void LoadLines(const std::string& path) override;
  void SaveLines(const std::string& path) const override;

  // True when some line holds a zero byte: the content is not text.
  bool HoldsZeroByte() const { return holds_zero_byte_; }

 private:
  // A run of whole lines in buffers_[buffer] at [offset, offset + length),
  // `joined_length` bytes once joined. A text run keeps its lines with their
  // line ends as they came (CR LF, LF or CR); a single line (from InsertLine)
  // is stored bare and may hold CR and LF bytes itself.
  struct Run {
    std::size_t buffer;
    std::size_t offset;
    std::size_t length;
    std::size_t joined_length;
    std::int64_t lines;
    bool single_line;
    bool canonical;
  };

  std::string_view Bytes(const Run& run) const;
  std::size_t JoinedSize() const;
  void SplitRunAt(std::size_t index, std::int64_t line);

  std::vector<std::string> buffers_;
  std::vector<Run> runs_;
  bool holds_zero_byte_ = false;
};
