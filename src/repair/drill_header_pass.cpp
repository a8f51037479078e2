#include "console/console_streams.h"
#include "repair/repair_run.h"

std::string DrillHeader(std::string_view tool_table) {
  return std::string("INCH,LZ\n\r").append(tool_table);
}

void CamRepair::FixDrillFiles() { ForEachEntry("*.drl", &CamRepair::FixDrillFile); }

void CamRepair::FixDrillFile() {
  if (!LoadDrillPassEntry()) return;
  WriteLine("processing .drl file");
  CheckConsoleError();
  Lines.InsertLine(1, DrillHeader(ToolTable));
  Lines.SaveLines(Entry.FileName);
}
