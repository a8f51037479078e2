#include "console/console_streams.h"
#include "platform/process.h"
#include "repair/repair_run.h"
#include "text/text_ops.h"

namespace {

constexpr std::string_view kToolHeading = "T-Code   Size";
constexpr std::string_view kEndMark = "----";

}  // namespace

std::string CutToolTable(std::string_view report) {
  const auto heading = FindText(kToolHeading, report);
  if (heading == 0) return {};
  auto table = CopyText(report, heading + 14, static_cast<std::int64_t>(report.size()));
  table = CopyText(table, 1, FindText(kEndMark, table) - 1);
  return ReplaceEvery(std::move(table), "      .", "C0.", platform::SystemLeadBytes());
}

void CamRepair::ReadDrillReport() { ForEachEntry("*.inf", &CamRepair::ReadOneDrillReport); }

void CamRepair::ReadOneDrillReport() {
  if (!LoadDrillPassEntry()) return;
  WriteLine("processing...");
  CheckConsoleError();
  ToolTable = CutToolTable(Lines.JoinedText());
  WriteLine(ToolTable);
  CheckConsoleError();
}
