#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "platform/directory_search.h"
#include "support/scratch_folder.h"

namespace {

// What a search yields: names, a folder's with "/", a non-empty file's with
// its size.
std::string Matches(const std::string& pattern) {
  TSearchRec entry;
  std::string names;
  if (FindFirstMatch(pattern, entry) != 0) return names;
  do {
    names += entry.FileName;
    if ((entry.FileAttributes & 0x10) != 0) {
      names += '/';
    } else if (entry.FileSize > 0) {
      names.append(":").append(std::to_string(entry.FileSize));
    }
    names += ' ';
  } while (FindNextMatch(entry) == 0);
  EndSearch(entry);
  EndSearch(entry);
  return names;
}

TEST(DirectorySearch, SelectsByPatternIgnoringCaseInNameOrder) {
  ScratchFolder folder;
  // "_" lies between the capitals and the small letters; names that differ
  // only in case go in byte order.
  for (const char* name :
       {"board.gtl",   "BOARD.GBL",  "board.gbr.bak", "x.g",           "X.G",       "x.G",
        "notes.g.txt", "gerber.bat", "board.inf",     "Board.INF",     "a.b.inf",   "board.INF",
        "a_b.inf",     "ab.inf",     "BOARD.INF",     "board.inf.bak", "board.drl", "x.g.drl",
        ".hidden.drl", "drl",        "huge.gtl"}) {
    folder.Write(name, "");
  }
  mkdir((folder / "old.gbr").c_str(), 0755);
  std::filesystem::resize_file(folder / "huge.gtl", 3000000000);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  EXPECT_EQ(
      Matches("*.g*"),
      "BOARD.GBL board.gbr.bak board.gtl huge.gtl:3000000000 notes.g.txt old.gbr/ X.G x.G x.g "
      "x.g.drl ");
  EXPECT_EQ(Matches("*.inf"), "a.b.inf ab.inf a_b.inf BOARD.INF Board.INF board.INF board.inf ");
  EXPECT_EQ(Matches("*.drl"), ".hidden.drl board.drl x.g.drl ");
  EXPECT_EQ(Matches("*.xyz"), "");
  std::filesystem::current_path(previous);
}

}  // namespace
