#include <gtest/gtest.h>

#include <sys/stat.h>

#include "support/scratch_folder.h"
#include "text/exceptions.h"
#include "text/string_list.h"

namespace {

TStringList ListOf(const std::string& text) {
  TStringList list;
  list.ReplaceAllText(text);
  return list;
}

template <class Error>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.Message();
  }
  return "(nothing raised)";
}

TEST(StringList, InsertLineKeepsTheLineWholeAndChecksTheIndex) {
  auto list = ListOf("A\nB\n");
  list.InsertLine(1, "H\n\rT");
  EXPECT_EQ(list.LineCount(), 3);
  EXPECT_EQ(list.JoinedText(), "A\r\nH\n\rT\r\nB\r\n");
  list.ReplaceAllText(list.JoinedText());
  EXPECT_EQ(list.LineCount(), 5);

  TStringList empty;
  EXPECT_EQ(MessageOf<EStringListError>([&] { empty.InsertLine(1, "x"); }),
            "List index out of bounds (1)");
  EXPECT_EQ(MessageOf<EStringListError>([&] { list.InsertLine(-1, "x"); }),
            "List index out of bounds (-1)");
  EXPECT_EQ(list.LineCount(), 5);
}

TEST(StringList, InsertsAtEveryPlaceOfALongList) {
  for (int index = 0; index <= 4; ++index) {
    auto list = ListOf("0\n1\n2\n3\n");
    list.InsertLine(index, "new");
    list.InsertLine(index + 1, "next");
    std::string expected;
    for (int line = 0; line <= 4; ++line) {
      if (line == index) expected += "new\r\nnext\r\n";
      if (line < 4) expected += std::to_string(line) + "\r\n";
    }
    EXPECT_EQ(list.JoinedText(), expected) << index;
  }
}

TEST(StringList, SaveKeepsPermissionsAndRefusesReadOnlyFiles) {
  ScratchFolder folder;
  folder.Write("x.gtl", "old");
  chmod((folder / "x.gtl").c_str(), 0640);
  ListOf("new").SaveLines(folder / "x.gtl");
  struct stat info {};
  stat((folder / "x.gtl").c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(folder.Read("x.gtl"), "new\r\n");

  chmod((folder / "x.gtl").c_str(), 0444);
  EXPECT_EQ(MessageOf<EFCreateError>([&] { ListOf("newer").SaveLines(folder / "x.gtl"); }),
            "Cannot create file \"" + (folder / "x.gtl") + "\". Permission denied");
  EXPECT_EQ(folder.Read("x.gtl"), "new\r\n");
  TStringList().SaveLines(folder / "empty.gtl");
  EXPECT_EQ(folder.Listing(), "empty.gtl x.gtl ");
}

}  // namespace
