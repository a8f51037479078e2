#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>

#include "platform/file_system.h"
#include "support/scratch_folder.h"
#include "text/exceptions.h"
#include "text/file_stream.h"

// A file read a second time must still be the file of the first read.
namespace {

const timespec kLongAgo[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};

const struct {
  const char* name;
  void (*change)(const ScratchFolder& folder);  // between the reads
} kChanges[] = {
    {"none", [](const ScratchFolder&) {}},
    {"appended",
     [](const ScratchFolder& folder) {
       std::ofstream(folder / "r.inf", std::ios::app) << "more\n";
     }},
    {"rewritten at its size, dated back",
     [](const ScratchFolder& folder) {
       folder.Write("r.inf", "T-Code   Size\nT02\n");
       utimensat(AT_FDCWD, (folder / "r.inf").c_str(), kLongAgo, 0);
     }},
    {"replaced",
     [](const ScratchFolder& folder) {
       folder.Write("new.inf", "T-Code   Size\nT01\n");
       std::rename((folder / "new.inf").c_str(), (folder / "r.inf").c_str());
     }},
};

TEST(ReadTextFileAgain, GivesTheSameTextOrRaisesThatTheFileChanged) {
  for (const auto& [name, change] : kChanges) {
    ScratchFolder folder;
    folder.Write("r.inf", "T-Code   Size\nT01\n");
    platform::FileStamp listed;
    ASSERT_TRUE(platform::sys::StampOf(folder / "r.inf", listed));
    std::string first, second;
    const auto read =
        ReadTextFile(folder / "r.inf", listed, [&first](std::string_view text) { first += text; });
    change(folder);
    try {
      ReadTextFileAgain(folder / "r.inf", read,
                        [&second](std::string_view text) { second += text; });
      EXPECT_EQ(std::string_view(name), "none");
      EXPECT_EQ(second, first);
    } catch (const EFCreateError& error) {
      EXPECT_NE(std::string_view(name), "none");
      EXPECT_NE(error.Message().find("changed by another program"), std::string::npos) << name;
    }
  }
}

}  // namespace
