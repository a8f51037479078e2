#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "e2e/expectations.h"

namespace {

namespace fs = std::filesystem;

std::string BytesAt(const std::string& path, std::uint64_t offset, std::size_t count) {
  std::string bytes(count, '\0');
  std::ifstream(path, std::ios::binary)
      .seekg(static_cast<std::streamoff>(offset))
      .read(bytes.data(), static_cast<std::streamsize>(count));
  return bytes;
}

// The Linux build runs with 64 MiB of address space for a 300 MiB file;
// camfix.exe is a 32-bit program, and a 1100 MiB file and its converted copy
// would not fit its address space together. Only streaming gets them through.
TEST(Faults, FileFarLargerThanTheMemoryLimitIsRepaired) {
  if (std::getenv("CAMFIX_SANITIZED") != nullptr) GTEST_SKIP() << "sanitizers reserve memory";
  const std::string line = "X012345Y067890D01*\n";
  std::string block;
  while (block.size() < (std::size_t{1} << 20)) block += line;
  const std::uint64_t blocks = ThisPlatform().wine ? 1100 : 300;
  ScratchFolder folder;
  {
    std::ofstream out(folder / "big.gtl", std::ios::binary);
    out << "%FSDAX24Y24*%\n";
    for (std::uint64_t n = 0; n < blocks; ++n) out << block;
  }
  const auto before = fs::file_size(folder / "big.gtl");
  const long limit = ThisPlatform().wine ? 0 : 64L << 20;
  const auto result =
      RunCamfix({.folder = folder.Path(), .input = "\n\n", .address_space_limit = limit});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  const std::uint64_t lines = 1 + blocks * (block.size() / line.size());
  EXPECT_EQ(fs::file_size(folder / "big.gtl"), before + lines);
  const std::string head = "%FSLAX24Y24*%\r\nX012345Y067890D01*\r\n", tail = head.substr(15);
  EXPECT_EQ(BytesAt(folder / "big.gtl", 0, head.size()), head);
  EXPECT_EQ(BytesAt(folder / "big.gtl", before + lines - tail.size(), tail.size()), tail);
  EXPECT_EQ(RegularFiles(folder.Path()), "big.gtl ");
}

TEST(Faults, ReportIsCutAt1023BytesForADeepFolder) {
  if (ThisPlatform().wine) GTEST_SKIP() << "wine does not start in a folder this deep";
  ScratchFolder root;
  std::string deep = root.Path();
  while (deep.size() < 1100) deep += "/" + std::string(100, 'd');
  fs::create_directories(deep);
  symlink("nowhere", (deep + "/x.gtl").c_str());
  const auto result = RunCamfix({.folder = deep, .input = "\n\n"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.size(), 1025u);
  EXPECT_EQ(result.err.substr(result.err.size() - 2), "\r\n");
}

}  // namespace
