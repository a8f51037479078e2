#include "repair/repair_run.h"

#include "console/console_streams.h"
#include "platform/file_io.h"

namespace {

constexpr std::uint32_t kEveryKindOfEntry = 63;

}  // namespace

void RunCamRepair() {
  CamRepair repair;
  repair.Run();
}

void CamRepair::Run() {
  ToolTable.clear();
  FixGerberFiles();
  ReadDrillReport();
  FixDrillFiles();
  WriteLine("hit any key to exit...");
  CheckConsoleError();
}

void CamRepair::ForEachEntry(const char* pattern, void (CamRepair::*handle)()) {
  if (FindFirstMatch(pattern, kEveryKindOfEntry, Entry) != 0) return;
  do {
    // Folders, FIFOs, sockets and devices are never opened.
    if (!platform::IsSpecialEntry(Entry.FileName)) (this->*handle)();
  } while (FindNextMatch(Entry) == 0);
  EndSearch(Entry);
}

void CamRepair::ReportNotText() const {
  WriteLine("not a text file, left unchanged: " + Entry.FileName);
  CheckConsoleError();
}

bool CamRepair::LoadDrillPassEntry() {
  if (!IsExistingFile(Entry.FileName)) return false;
  Lines.LoadLines(Entry.FileName);
  if (!Lines.HoldsZeroByte()) return true;
  ReportNotText();
  return false;
}
