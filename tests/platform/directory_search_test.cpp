#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/directory_search.h"
#include "support/scratch_folder.h"

namespace {

std::string Matches(const std::string& pattern) {
  TSearchRec entry;
  std::string names;
  if (FindFirstMatch(pattern, 63, entry) != 0) return names;
  do names += entry.FileName + " ";
  while (FindNextMatch(entry) == 0);
  EndSearch(entry);
  EndSearch(entry);
  return names;
}

TEST(DirectorySearch, SelectsByPatternIgnoringCaseInNameOrder) {
  ScratchFolder folder;
  for (const char* name :
       {"board.gtl", "BOARD.GBL", "board.gbr.bak", "x.g", "notes.g.txt", "gerber.bat", "board.inf",
        "Board.INF", "a.b.inf", "board.inf.bak", "board.drl", "x.g.drl", ".hidden.drl", "drl"}) {
    folder.Write(name, "");
  }
  mkdir((folder / "old.gbr").c_str(), 0755);
  const WorkingDirectory here(folder.Path());
  EXPECT_EQ(Matches("*.g*"), "BOARD.GBL board.gbr.bak board.gtl notes.g.txt old.gbr x.g x.g.drl ");
  EXPECT_EQ(Matches("*.inf"), "a.b.inf Board.INF board.inf ");
  EXPECT_EQ(Matches("*.drl"), ".hidden.drl board.drl x.g.drl ");
  EXPECT_EQ(Matches("*.xyz"), "");
}

TEST(DirectorySearch, ReportsFoldersAndSizesBeyondTwoGigabytes) {
  ScratchFolder folder;
  mkdir((folder / "old.gbr").c_str(), 0755);
  const int fd = open((folder / "huge.gtl").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(ftruncate(fd, 3000000000), 0);
  close(fd);
  const WorkingDirectory here(folder.Path());
  TSearchRec entry;
  ASSERT_EQ(FindFirstMatch("*.g*", 63, entry), 0);
  EXPECT_EQ(entry.FileName, "huge.gtl");
  EXPECT_EQ(entry.FileSize, 3000000000);
  ASSERT_EQ(FindNextMatch(entry), 0);
  EXPECT_EQ(entry.FileAttributes & 0x10, 0x10u);
  EXPECT_NE(FindNextMatch(entry), 0);
  EndSearch(entry);
  // Without the folder bit in the mask, folders are passed over.
  ASSERT_EQ(FindFirstMatch("*.gbr", 63 & ~0x10, entry), 2 /* ENOENT */);
}

}  // namespace
