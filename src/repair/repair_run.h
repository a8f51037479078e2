#pragma once

#include <string>
#include <string_view>

#include "platform/directory_search.h"
#include "text/string_list.h"

// One repair of the working directory in three passes: Gerber files get "FSL"
// for "FSD", the drill report's tool table is cut out, and every drill file
// gets an "INCH,LZ" header with that table after its first line.
void RunCamRepair();

// The state the passes share for one run.
class CamRepair {
 public:
  void Run();

  void FixGerberFiles();
  void ReadDrillReport();
  void FixDrillFiles();

 private:
  // Calls `handle` for every entry matching `pattern`, in the search's order.
  void ForEachEntry(const char* pattern, void (CamRepair::*handle)());

  void FixGerberFile();
  void ReadOneDrillReport();
  void FixDrillFile();

  // Reports an entry whose content is not text and so stays as it is.
  void ReportNotText() const;

  // Loads the entry's file into Lines for a drill pass: false, without a
  // message, when it is no existing file in the MS-DOS date range, and false,
  // after saying so, when it is not text.
  bool LoadDrillPassEntry();

  TStringList Lines;
  std::string ToolTable;
  TSearchRec Entry;
};

// The tool table of a drill report in canonical text: the text between the
// heading "T-Code   Size" and the first "----" after it, starting with the
// heading line's LF, with "C0." for every six spaces and a point. Empty when
// the heading or the end mark is missing.
std::string CutToolTable(std::string_view report);

// The header a drill file receives after its first line.
std::string DrillHeader(std::string_view tool_table);
