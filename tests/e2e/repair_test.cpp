#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include "e2e/expectations.h"

namespace {

namespace fs = std::filesystem;

const std::string kReport =
    "Drill report\r\n\r\nT-Code   Size\r\nT01      .0320\r\nT02      .0400\r\n-------\r\n";
const std::string kToolTable = "\nT01C0.0320\r\nT02C0.0400\r\n";
// Dashes before the heading do not count; five spaces before the point are no
// size, and of seven the last six are.
const std::string kOtherReport =
    "----\r\nT-Code   Size\r\nT07      .1250\r\nT1     .5\r\nT2       .6\r\n----\r\n";
const std::string kOtherTable = "\nT07C0.1250\r\nT1     .5\r\nT2 C0.6\r\n";
const std::string kFsd = "%FSDAX24Y24*%\n", kFsl = "%FSLAX24Y24*%\r\n";

void Epoch(const std::string& work) {
  const timeval epoch[2] = {{0, 0}, {0, 0}};
  for (const auto& entry : fs::directory_iterator(work)) utimes(entry.path().c_str(), epoch);
}

// Folders, a FIFO, a socket and hidden files: none of them is opened.
void OddEntries(const std::string& work) {
  fs::create_directory(work + "/old.gbr");
  fs::create_directory(work + "/x.drl");
  mkfifo((work + "/pipe.gtl").c_str(), 0644);
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  (work + "/sock.gtl").copy(address.sun_path, sizeof address.sun_path - 1);
  bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
  close(sock);
}

// Links in every pass: to files (one planted into a private folder), to
// nowhere and to a device.
void Links(const std::string& work) {
  chmod((work + "/sub").c_str(), 0700);
  const std::pair<const char*, const char*> links[] = {
      {"link.gtl", "sub/target"},  {"link.inf", "sub/r.inf"},   {"link.drl", "sub/target"},
      {"dangling.gtl", "nowhere"}, {"dangling.inf", "nowhere"}, {"dangling.drl", "nowhere"},
      {"zero.gtl", "/dev/zero"}};
  for (const auto& [name, target] : links) symlink(target, (work + "/" + name).c_str());
}
void ReadOnly(const std::string& work) { chmod((work + "/r\xC3\xB6.gtl").c_str(), 0444); }

class Repair : public ::testing::TestWithParam<Row> {};

std::vector<Row> RepairRows() {
  const auto& platform = ThisPlatform();
  const std::string long_name = std::string(240, 'n') + ".gtl";
  // Its "FSD" lies across the edge of the 1 MiB chunks camfix reads.
  const std::string long_line = std::string((1 << 20) - 2, 'D') + "FSD";
  // Shown in the ANSI code page (1252) on the console, in the OEM code page
  // (437) in a report.
  const std::string ro = "r\xC3\xB6.gtl", shown_ro = platform.wine ? "r\xF6.gtl" : ro,
                    reported_ro = platform.wine ? "r\x94.gtl" : ro;
  const std::string cyrillic = "\xD0\xBF\xD0\xBB\xD0\xB0\xD1\x82\xD0\xB0.gtl";
  const std::string drl = "M48\r\nINCH,LZ\n\r";
  // clang-format off
  return {
      {.name = "TypicalBoard",
       .before = {{"board.GTL", "G04 top*\n%FSDAX24Y24*%\nFSFSD FSDD fsd\nX1Y1D01*"},
                  {"board.inf", kReport}, {"board.drl", "A\nB\rC\r\n"}},
       .out = Repaired(GerberLines("board.GTL", 46) + "processing...\r\n" + kToolTable +
                       "\r\nprocessing .drl file\r\n"),
       .changes = {{"board.GTL", "G04 top*\r\n%FSLAX24Y24*%\r\nFSFSL FSLD fsd\r\nX1Y1D01*\r\n"},
                   {"board.drl", "A\r\nINCH,LZ\n\r" + kToolTable + "\r\nB\r\nC\r\n"}}},
      // The first report has dashes right after its heading.
      {.name = "LastReportWinsAndEveryDrillFileGetsIt",
       .before = {{"a.inf", "T-Code   Size\r\n----\r\n"}, {"b.inf", kReport}, {"c.inf", kOtherReport},
                  {"a.drl", "M48\r\n%\r\n"}, {"b.drl", "M48\r\n%\r\n"}},
       .out = Repaired("processing...\r\n\n\r\nprocessing...\r\n" + kToolTable + "\r\nprocessing...\r\n" +
                       kOtherTable + "\r\nprocessing .drl file\r\nprocessing .drl file\r\n"),
       .changes = {{"a.drl", drl + kOtherTable + "\r\n%\r\n"}, {"b.drl", drl + kOtherTable + "\r\n%\r\n"}}},
      {.name = "ReportWithoutHeadingOrDashesGivesNoTable",  // and a one-line drill file
       .before = {{"r.inf", "just some text that is long enough\r\n----\r\n"},
                  {"s.inf", "x\r\nT-Code   Size\r\n"}, {"d.drl", "M48"}},
       .out = Repaired("processing...\r\n\r\nprocessing...\r\n\r\nprocessing .drl file\r\n"),
       .changes = {{"d.drl", drl + "\r\n"}}},
      // Headers of other CAD packages; the design package's own file and one
      // with a zero byte beside them. The big one goes through the writer.
      {.name = "DrillFilesThatDeclareTheirOwnFormatAreLeftAlone",
       .before = {{"p-cad.drl", "M48\r\n;FILE_FORMAT=3:3\r\nMETRIC,TZ\r\nT01C0.800\r\n%\r\nT01\r\nX26000Y438400\r\nM30\r\n"},
                  {"altium.drl", ";Layer_Color=9474304\r\n;FILE_FORMAT=2:3\r\nM48\r\nINCH,TZ,00.000\r\nT1F00S00C0.0300\r\n%\r\n"},
                  {"Excellon2.DRL", "M48\nFMAT,2\nm71\nT1C0.8\nM95\nT1\nX26.0Y43.84\nM30"},
                  {"no-m48.drl", "inch\rT01C0.032\rT01\rX1000Y2000\r"},
                  {"big.drl", "M48\nMETRIC\n%\n" + std::string(2'500'000, ';') + "\n"},
                  {"board.drl", "M48\n%\nT01\nX007Y0065\nM30\n"},
                  {"zero.drl", std::string("M48\nMETRIC\n\0\n", 14)}},
       .out = Repaired("declares its own format, left unchanged: altium.drl\r\n"
                       "declares its own format, left unchanged: big.drl\r\n"
                       "processing .drl file\r\n"
                       "declares its own format, left unchanged: Excellon2.DRL\r\n"
                       "declares its own format, left unchanged: no-m48.drl\r\n"
                       "declares its own format, left unchanged: p-cad.drl\r\n"
                       "not a text file, left unchanged: zero.drl\r\n"),
       .changes = {{"board.drl", "M48\r\nINCH,LZ\n\r\r\n%\r\nT01\r\nX007Y0065\r\nM30\r\n"}}},
      // One camfix repaired before, one whose only unit statement is among its
      // holes, and one whose header names only the command set.
      {.name = "InchLzAUnitSwitchAmongTheHolesOrFmatAloneGetTheHeader",
       .before = {{"again.drl", drl + "\r\n%\r\nT01\r\n"}, {"body.drl", "M48\n%\nT01\nX1Y1\nM71\nX2\n"},
                  {"fmat.drl", "M48\r\nFMAT,2\r\n%\r\n"}},
       .out = Repaired("processing .drl file\r\nprocessing .drl file\r\nprocessing .drl file\r\n"),
       .changes = {{"again.drl", drl + "\r\nINCH,LZ\r\n\r\n\r\n%\r\nT01\r\n"},
                   {"body.drl", drl + "\r\n%\r\nT01\r\nX1Y1\r\nM71\r\nX2\r\n"},
                   {"fmat.drl", drl + "\r\nFMAT,2\r\n%\r\n"}}},
      {.name = "NotTextIsLeftAlone",
       .before = {{"logo.gif", std::string("GIF89a\0FSD", 10)}, {"t.inf", std::string("T-Code   Size\0", 14)}},
       .out = Repaired("File name = logo.gif\r\nFile size = 10\r\n"
                       "not a text file, left unchanged: logo.gif\r\n"
                       "not a text file, left unchanged: t.inf\r\n")},
      {.name = "OddEntriesArePassedOver",
       .before = {{".gitignore", "x.g\n"}, {".gitattributes", "* -text\n"}, {".hidden.drl", "M48\n"}},
       .out = Repaired(""), .arrange = OddEntries},
      {.name = "FilesDatedBefore1980AreSkippedByTheDrillPassesOnly",
       .before = {{"old.gtl", "FSD\n"}, {"old.inf", kReport}, {"old.drl", "M48\n"}},
       .out = Repaired(GerberLines("old.gtl", 4)), .changes = {{"old.gtl", "FSL\r\n"}}, .arrange = Epoch},
      {.name = "OddNamesAndALongSingleLine",
       .before = {{" spaced out.gtl", kFsd}, {"-dash.gtl", kFsd}, {"caf\xC3\xA9.gtl", kFsd},
                  {cyrillic, kFsd}, {long_name, kFsd}, {"board.drl2", "M48\n"}, {"one.gbr", long_line}},
       .out = Repaired(GerberLines(" spaced out.gtl", 14) + GerberLines("-dash.gtl", 14) +
                       GerberLines(platform.wine ? "caf\xE9.gtl" : "caf\xC3\xA9.gtl", 14) +
                       GerberLines(long_name, 14) + GerberLines("one.gbr", (1 << 20) + 1) +
                       GerberLines(platform.wine ? "?????.gtl" : cyrillic, 14) +
                       (platform.short_names ? "processing .drl file\r\n" : "")),
       .changes = {{" spaced out.gtl", kFsl}, {"-dash.gtl", kFsl}, {"caf\xC3\xA9.gtl", kFsl},
                   {cyrillic, kFsl}, {long_name, kFsl},
                   {"board.drl2", platform.short_names ? drl + "\r\n" : "M48\n"},
                   {"one.gbr", long_line.substr(0, long_line.size() - 1) + "L\r\n"}}},
      {.name = "LinksArePassedOverAndTheirTargetsKept",
       .before = {{"a.gtl", kFsd}, {"b.drl", "M48\n"}, {"sub/target", "FSD\n"}, {"sub/r.inf", kReport}},
       .out = Repaired(GerberLines("a.gtl", 14) + "processing .drl file\r\n"),
       .changes = {{"a.gtl", kFsl}, {"b.drl", drl + "\r\n"}}, .linux_only = "symbolic links are the Linux build's", .arrange = Links},
      // A C1 control (CSI here) as UTF-8 or as a byte of its own; the UTF-8
      // of other characters is no control, 0x9B within it neither.
      {.name = "ControlCharactersOfANameAreShownAsQuestionMarks",
       .before = {{"\x1b[2J.gtl", kFsd}, {"a\t\rFile size = 0\n.gtl", kFsd}, {"del\x7f.gtl", kFsd},
                  {"\xC2\x9B" "2J.gtl", kFsd}, {"\x9B" "2J.gtl", kFsd}, {"\xE2\x80\x9B\xC3\xBC.gtl", kFsd}},
       .out = Repaired(GerberLines("?[2J.gtl", 14) + GerberLines("a??File size = 0?.gtl", 14) +
                       GerberLines("del?.gtl", 14) + GerberLines("?2J.gtl", 14) + GerberLines("?2J.gtl", 14) +
                       GerberLines("\xE2\x80\x9B\xC3\xBC.gtl", 14)),
       .changes = {{"\x1b[2J.gtl", kFsl}, {"a\t\rFile size = 0\n.gtl", kFsl}, {"del\x7f.gtl", kFsl},
                   {"\xC2\x9B" "2J.gtl", kFsl}, {"\x9B" "2J.gtl", kFsl}, {"\xE2\x80\x9B\xC3\xBC.gtl", kFsl}},
       .linux_only = "Windows names hold no control characters"},
      // The drill file gets the table as it is; the console shows an escape
      // sequence (one that sets a window title) with "?", tabs as they are.
      {.name = "ControlCharactersOfAToolTableAreShownAsQuestionMarks",
       .before = {{"r.inf", "T-Code   Size\r\nT01\t\x1b]0;title\x07      .0320\xC2\x9B\r\n----\r\n"},
                  {"a.drl", "M48\r\n"}},
       .out = Repaired("processing...\r\n\nT01\t?]0;title?C0.0320" +
                       std::string(platform.wine ? "\xC2\x9B" : "?") + "\r\n\r\nprocessing .drl file\r\n"),
       .changes = {{"a.drl", drl + "\nT01\t\x1b]0;title\x07" "C0.0320\xC2\x9B\r\n\r\n"}}},
      {.name = "ReadOnlyFileIsRefusedAndKept", .before = {{ro, "FSD\n"}}, .exit_code = 1,
       .out = kBanner + "\n\r\n" + GerberLines(shown_ro, 4),
       .err = "Cannot create file \"{work}" + std::string(platform.wine ? "\\" : "/") + reported_ro + "\". " +
              platform.access_denied + ".",
       .error = "EFCreateError", .arrange = ReadOnly},
  };
  // clang-format on
}
ROW_TESTS(Repair, RepairRows);

std::string BytesAt(const std::string& path, std::uint64_t offset, std::size_t count) {
  std::string bytes(count, '\0');
  std::ifstream(path, std::ios::binary)
      .seekg(static_cast<std::streamoff>(offset))
      .read(bytes.data(), static_cast<std::streamsize>(count));
  return bytes;
}

// Writes a Gerber file of an FSD line and `blocks` MiB of LF lines (a real
// file, no holes) and has camfix repair it: the console gives the size as it
// was, the repaired file has its head, its tail and every CR it gained, and
// camfix's peak memory (wine's included) stays far below the file's size.
void RepairLargeGerber(std::uint64_t blocks, long address_space_limit) {
  if (std::getenv("CAMFIX_SANITIZED") != nullptr) GTEST_SKIP() << "sanitizers reserve memory";
  const std::string line = "X012345Y067890D01*\n";
  std::string block;
  while (block.size() < (std::size_t{1} << 20)) block += line;
  ScratchFolder folder;
  {
    std::ofstream out(folder / "big.gtl", std::ios::binary);
    out << "%FSDAX24Y24*%\n";
    for (std::uint64_t n = 0; n < blocks; ++n) out << block;
  }
  const auto before = fs::file_size(folder / "big.gtl");
  malloc_trim(0);  // camfix starts as a copy of this process: its peak counts the copy
  const auto result = CamfixProcess({.folder = folder.Path(),
                                     .input = "\n\n",
                                     .address_space_limit = address_space_limit,
                                     .seconds = 900})
                          .Finish();
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, Repaired(GerberLines("big.gtl", static_cast<long>(before))));
  const std::uint64_t lines = 1 + blocks * (block.size() / line.size());
  EXPECT_EQ(fs::file_size(folder / "big.gtl"), before + lines);
  const std::string head = "%FSLAX24Y24*%\r\nX012345Y067890D01*\r\n", tail = head.substr(15);
  EXPECT_EQ(BytesAt(folder / "big.gtl", 0, head.size()), head);
  EXPECT_EQ(BytesAt(folder / "big.gtl", before + lines - tail.size(), tail.size()), tail);
  EXPECT_EQ(RegularFiles(folder.Path()), "big.gtl ");
  rusage children{};
  getrusage(RUSAGE_CHILDREN, &children);
  EXPECT_LT(static_cast<std::uint64_t>(children.ru_maxrss) << 10, before / 16);
}

// The Linux build runs with 64 MiB of address space for a 300 MiB file;
// camfix.exe is a 32-bit program, and a 1100 MiB file and its converted copy
// would not fit its address space together. Only streaming gets them through.
TEST(Repair, FileFarLargerThanTheMemoryLimitIsRepaired) {
  RepairLargeGerber(ThisPlatform().wine ? 1100 : 300, ThisPlatform().wine ? 0 : 64L << 20);
}

// camfix in `folder` under 64 MiB of address space (no limit under wine).
auto RunInLittleMemory(const ScratchFolder& folder) {
  return CamfixProcess({.folder = folder.Path(),
                        .input = "\n\n",
                        .address_space_limit = ThisPlatform().wine ? 0 : 64L << 20,
                        .seconds = 300})
      .Finish();
}

// A drill report of 96 MiB with LF line ends, its table in the middle, under
// 64 MiB of address space: only its table is held.
TEST(Repair, ReportFarLargerThanTheMemoryLimitGivesItsTable) {
  if (std::getenv("CAMFIX_SANITIZED") != nullptr) GTEST_SKIP() << "sanitizers reserve memory";
  std::string half;
  while (half.size() < (std::size_t{48} << 20)) half += "Hits 0123456789 ---- 0123456789\n";
  ScratchFolder folder;
  std::ofstream(folder / "big.inf", std::ios::binary)
      << half << "T-Code   Size\nT01      .0320\n----\n" << half;
  half = {};
  const auto result = RunInLittleMemory(folder);
  EXPECT_EQ(result.exit_code, 0) << result.err;
  EXPECT_EQ(result.out, Repaired("processing...\r\n\nT01C0.0320\r\n\r\n"));
}

// A drill report of 80 MiB under 64 MiB of address space whose heading is
// not followed by an end mark: no table, and nothing of the report is held.
// A table longer than the first read holds comes whole from a second read.
TEST(Repair, ReportHeldOnlyForTheTableItEndsWith) {
  if (std::getenv("CAMFIX_SANITIZED") != nullptr) GTEST_SKIP() << "sanitizers reserve memory";
  const std::string line = "T01      .0320 -- - --- -\n", tool = "T01C0.0320 -- - --- -\r\n";
  std::string lines, table = "\n";
  for (std::size_t count = 0; count < (std::size_t{6} << 20) / line.size(); ++count) {
    lines += line;
    table += tool;
  }
  const std::string many = lines;
  while (lines.size() < (std::size_t{80} << 20)) lines += many;
  for (const auto& [tail, tool_table] :
       {std::pair{lines, std::string()}, std::pair{many + "----\n", table}}) {
    ScratchFolder folder;
    std::ofstream(folder / "big.inf", std::ios::binary) << "Report\nT-Code   Size\n" << tail;
    folder.Write("d.drl", "M48\nT01\n");
    const auto result = RunInLittleMemory(folder);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(result.out == Repaired("processing...\r\n" + tool_table +
                                       "\r\nprocessing .drl file\r\n"));
    EXPECT_TRUE(folder.Read("d.drl") == "M48\r\nINCH,LZ\n\r" + tool_table + "\r\nT01\r\n");
  }
}

// Beyond 4 GiB: 32-bit sizes and offsets would wrap (label huge, as the
// file and its repaired copy take 9 GB of /tmp).
TEST(Huge, FileBeyond4GiBIsRepaired) {
  RepairLargeGerber(4097, ThisPlatform().wine ? 0 : 64L << 20);
}

// Only the data of a sparse file is read: its holes would take far longer than
// the harness waits.
TEST(Repair, SparseFileOfZerosIsLeftAloneWithoutReadingItsHoles) {
  if (ThisPlatform().wine) GTEST_SKIP() << "the Linux build's holes";
  ScratchFolder folder;
  folder.Write("zeros.gtl", "");
  fs::resize_file(folder / "zeros.gtl", std::uintmax_t{1} << 40);
  EXPECT_EQ(CamfixProcess({.folder = folder.Path(), .input = "\n\n"}).Finish().out,
            Repaired("File name = zeros.gtl\r\nFile size = 1099511627776\r\n"
                     "not a text file, left unchanged: zeros.gtl\r\n"));
}

}  // namespace
