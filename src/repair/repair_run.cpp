#include "repair/repair_run.h"

#include <memory>
#include <string>
#include <string_view>

#include "console/console_streams.h"
#include "platform/code_page.h"
#include "platform/directory_search.h"
#include "repair/drill_format.h"
#include "repair/tool_table.h"
#include "text/exceptions.h"
#include "text/file_stream.h"
#include "text/text_ops.h"

namespace {

void Say(const std::string& line) {
  WriteLine(line);
  CheckConsoleError();
}

void SayNotText(const TSearchRec& entry) {
  Say("not a text file, left unchanged: " + platform::ConsoleText(entry.FileName));
}

// Only plain files are opened: folders, links, FIFOs, sockets, devices and
// hidden entries are passed over without a word.
bool IsPlainFile(const TSearchRec& entry) {
  return entry.FileKind == platform::EntryKind::kFile &&
         (entry.FileAttributes & platform::kHiddenAttribute) == 0;
}

// Moves `entry` on to the next plain file of its search; false, with the
// search ended, when there is none.
bool NextFile(TSearchRec& entry) {
  while (FindNextMatch(entry) == 0) {
    if (IsPlainFile(entry)) return true;
  }
  EndSearch(entry);
  return false;
}

// Starts a search at the first plain file matching `pattern`. A folder that
// cannot be listed raises EFOpenError.
bool FirstFile(const char* pattern, TSearchRec& entry) {
  const auto result = FindFirstMatch(pattern, entry);
  if (result == kNoMatchingEntry) return false;
  if (result != 0) {
    Raise(EFOpenError(FileErrorMessage("Cannot open file", platform::WorkingFolder(), result)));
  }
  return IsPlainFile(entry) || NextFile(entry);
}

void FixGerberFile(const TSearchRec& entry, SavePass& pass) {
  auto rewrite = pass.Rewrite(entry.FileName, entry.FileIdentity,
                              Conversion{true, &platform::SystemLeadBytes(), false, {}});
  Say("File name = " + platform::ConsoleText(entry.FileName));
  Say("File size = " + IntegerToText(entry.FileSize));
  if (rewrite->HoldsZeroByte()) return SayNotText(entry);
  Say("processing...");
  pass.Commit(std::move(rewrite));
}

// The drill passes skip, without a word, what is no existing file dated 1980
// to 2107 when its turn comes. The report's table goes into the drill files
// as it is; the console shows its control characters, but for line ends and
// tabs, as "?".
// A table longer than a cut holds is cut again from a second read, which
// holds that table alone: a long report without one is never held.
void ReadDrillReport(const TSearchRec& entry, std::string& tool_table) {
  if (!IsExistingFile(entry.FileName)) return;
  ToolTableCut cut;
  const auto read = ReadTextFile(entry.FileName, entry.FileIdentity,
                                 [&cut](std::string_view text) { cut.Take(text); });
  if (!read.is_text) return SayNotText(entry);
  if (cut.TooLong()) {
    ToolTableCut whole(cut.TableSize());
    ReadTextFileAgain(entry.FileName, read, [&whole](std::string_view text) { whole.Take(text); });
    cut = std::move(whole);
  }
  Say("processing...");
  tool_table = cut.Table();
  Say(platform::ConsoleSafeText(tool_table, "\r\n\t"));
}

void SayOwnFormat(const TSearchRec& entry) {
  Say("declares its own format, left unchanged: " + platform::ConsoleText(entry.FileName));
}

// The header goes in after the first line; a file without lines has no
// place for it. A file that declares its own units or zero format keeps it:
// the header would go before that declaration and change how readers place
// the holes.
void FixDrillFile(const TSearchRec& entry, const std::string& tool_table, SavePass& pass) {
  if (!IsExistingFile(entry.FileName)) return;
  auto rewrite =
      pass.Rewrite(entry.FileName, entry.FileIdentity,
                   Conversion{false, &platform::kNoLeadBytes, true, "INCH,LZ\n\r" + tool_table},
                   DeclaresOwnFormat);
  if (rewrite->HoldsZeroByte()) return SayNotText(entry);
  if (rewrite->LeftAsItIs()) return SayOwnFormat(entry);
  Say("processing .drl file");
  if (!rewrite->HasLines()) Raise(EStringListError("List index out of bounds (1)"));
  pass.Commit(std::move(rewrite));
}

}  // namespace

void RunCamRepair(platform::Background& releases) {
  TSearchRec Entry;
  std::string ToolTable;
  {
    SavePass pass(releases);
    for (bool found = FirstFile("*.g*", Entry); found; found = NextFile(Entry)) {
      FixGerberFile(Entry, pass);
    }
    pass.Flush();
  }
  for (bool found = FirstFile("*.inf", Entry); found; found = NextFile(Entry)) {
    ReadDrillReport(Entry, ToolTable);
  }
  SavePass pass(releases);
  for (bool found = FirstFile("*.drl", Entry); found; found = NextFile(Entry)) {
    FixDrillFile(Entry, ToolTable, pass);
  }
  pass.Flush();
  Say("hit any key to exit...");
}
