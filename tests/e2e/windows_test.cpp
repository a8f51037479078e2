#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

// Names beyond the ANSI code page, the hidden attribute and files larger than
// the address space: what the Windows build reaches through the system's
// wide-character calls and the streaming save. The Linux build runs the first
// two as well: both builds give the same bytes.

namespace {

namespace fs = std::filesystem;

struct OddName {
  std::string on_disk;  // UTF-8, as the Linux side writes it
  std::string on_wine;  // as the console shows it in wine's code page 1252 (LANG C or English)
};

TEST(Windows, NamesBeyondTheAnsiCodePageAreRepairedAndShownAsItAllows) {
  const OddName names[] = {{"café.gtl", "caf\xE9.gtl"}, {"плата.gtl", "?????.gtl"}};
  ScratchFolder folder;
  std::string console;
  for (const auto& [on_disk, on_wine] : names) {
    folder.Write(on_disk, "%FSDAX24Y24*%\n");
    console += "File name = " + (ThisPlatform().wine ? on_wine : on_disk) +
               "\r\nFile size = 14\r\nprocessing...\r\n";
  }
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  EXPECT_EQ(result.out, kBanner + "\n\r\n" + console + kEnd);
  for (const auto& name : names) EXPECT_EQ(folder.Read(name.on_disk), "%FSLAX24Y24*%\r\n");
}

// ".gitattributes" matches "*.g*": only its hidden attribute keeps it out.
TEST(Windows, SampleBoardIsRepairedInPlaceAndItsDotFileLeftAlone) {
  ScratchFolder folder;
  const auto board = fs::path(__FILE__).parent_path() / "../../examples/board";
  fs::copy(board, folder.Path(), fs::copy_options::recursive);
  fs::remove(folder / "gerber.bat");
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(folder.Read(".gitattributes"), "* -text\n");
  EXPECT_EQ(result.out.find(".gitattributes"), std::string::npos);
  EXPECT_NE(folder.Read("board.gtl").find("%FSLAX24Y24*%\r\n"), std::string::npos);
  EXPECT_NE(folder.Read("board.drl").find("INCH,LZ\n\r"), std::string::npos);
}

std::string BytesAt(const std::string& path, std::uint64_t offset, std::size_t count) {
  std::string bytes(count, '\0');
  std::ifstream(path, std::ios::binary)
      .seekg(static_cast<std::streamoff>(offset))
      .read(bytes.data(), static_cast<std::streamsize>(count));
  return bytes;
}

// camfix.exe is a 32-bit program: a 1100 MiB file and its converted copy
// do not fit its address space together, so only a streaming save gets it
// through.
TEST(Windows, FileLargerThanTheAddressSpaceHoldsTwiceIsRepaired) {
  if (!ThisPlatform().wine) GTEST_SKIP() << "the 32-bit address space is the test";
  const std::string line = "X012345Y067890D01*\n";
  std::string block;
  while (block.size() < (std::size_t{1} << 20)) block += line;
  constexpr std::uint64_t kBlocks = 1100;
  ScratchFolder folder;
  {
    std::ofstream out(folder / "big.gtl", std::ios::binary);
    out << "%FSDAX24Y24*%\n";
    for (std::uint64_t n = 0; n < kBlocks; ++n) out << block;
  }
  const auto before = fs::file_size(folder / "big.gtl");
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::uint64_t lines = 1 + kBlocks * (block.size() / line.size());
  EXPECT_EQ(fs::file_size(folder / "big.gtl"), before + lines);
  const std::string head = "%FSLAX24Y24*%\r\nX012345Y067890D01*\r\n", tail = head.substr(15);
  EXPECT_EQ(BytesAt(folder / "big.gtl", 0, head.size()), head);
  EXPECT_EQ(BytesAt(folder / "big.gtl", before + lines - tail.size(), tail.size()), tail);
  EXPECT_EQ(folder.Listing(), "big.gtl ");
}

}  // namespace
