#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "e2e/expectations.h"
#include "e2e/run_camfix.h"
#include "support/scratch_folder.h"

namespace {

TEST(Faults, FileFarLargerThanTheMemoryLimitIsRepaired) {
  if (std::getenv("CAMFIX_SANITIZED") != nullptr) GTEST_SKIP() << "sanitizers reserve memory";
  if (ThisPlatform().wine) GTEST_SKIP() << "wine does not start under an address space limit";
  ScratchFolder folder;
  std::string block;
  while (block.size() < (1 << 20)) block += "X1Y1D01*\n";
  {
    std::ofstream out(folder / "huge.gtl", std::ios::binary);
    for (int mebibyte = 0; mebibyte < 300; ++mebibyte) out << block;
  }
  const auto result =
      RunCamfix({.folder = folder.Path(), .input = "\n\n", .address_space_limit = 64L << 20});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(std::filesystem::file_size(folder / "huge.gtl"), 300 * block.size() / 9 * 10);
  EXPECT_EQ(folder.Listing(), "huge.gtl ");
}

TEST(Faults, OddNamesAndALongSingleLineAreRepaired) {
  ScratchFolder folder;
  const std::string long_name = std::string(240, 'n') + ".gtl";
  const std::string names[] = {" spaced out.gtl", "-dash.gtl", ThisPlatform().odd_name, long_name};
  for (const auto& name : names) folder.Write(name, "%FSDAX24Y24*%\n");
  folder.Write("board.drl2", "M48\n");  // "*.drl" selects it on Windows by its 8.3 name
  chmod((folder / "-dash.gtl").c_str(), 0640);
  folder.Write("one.gbr", std::string(100'000'000, 'D') + "FSD");
  const auto result = RunCamfix({.folder = folder.Path(), .input = "\n\n"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  for (const auto& name : names) EXPECT_EQ(folder.Read(name), "%FSLAX24Y24*%\r\n") << name;
  EXPECT_EQ(folder.Read("board.drl2"),
            ThisPlatform().short_names ? "M48\r\nINCH,LZ\n\r\r\n" : "M48\n");
  struct stat info {};
  stat((folder / "-dash.gtl").c_str(), &info);
  if (!ThisPlatform().wine) EXPECT_EQ(info.st_mode & 0777, 0640u);  // permissions are kept
  const auto line = folder.Read("one.gbr");
  EXPECT_EQ(line.size(), 100'000'005u);
  EXPECT_EQ(line.substr(line.size() - 5), "FSL\r\n");
}

TEST(Faults, SocketsArePassedOverAndDanglingLinksFailToOpen) {
  ScratchFolder folder;
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const auto path = folder / "sock.gtl";
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(RunCamfix({.folder = folder.Path(), .input = "\n\n"}).out, kBanner + "\n\r\n" + kEnd);
  close(sock);
  if (ThisPlatform().wine) GTEST_SKIP() << "wine does not list dangling links";
  symlink("nowhere", (folder / "dangling.gtl").c_str());
  ExpectReport(
      RunCamfix({.folder = folder.Path(), .input = "\n\n"}), "EFOpenError",
      "Cannot open file \"" + (folder / "dangling.gtl") + "\". No such file or directory.");
}

TEST(Faults, ReportIsCutAt1023BytesForADeepFolder) {
  if (ThisPlatform().wine) GTEST_SKIP() << "wine does not start in a folder this deep";
  ScratchFolder root;
  std::string deep = root.Path();
  while (deep.size() < 1100) deep += "/" + std::string(100, 'd');
  std::filesystem::create_directories(deep);
  symlink("nowhere", (deep + "/x.gtl").c_str());
  const auto result = RunCamfix({.folder = deep, .input = "\n\n"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err.size(), 1025u);
  EXPECT_EQ(result.err.substr(result.err.size() - 2), "\r\n");
}

}  // namespace
