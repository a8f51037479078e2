#include "console/console_streams.h"
#include "platform/process.h"
#include "repair/repair_run.h"
#include "text/text_ops.h"

void CamRepair::FixGerberFiles() { ForEachEntry("*.g*", &CamRepair::FixGerberFile); }

void CamRepair::FixGerberFile() {
  Lines.LoadLines(Entry.FileName);
  WriteLine("File name = " + Entry.FileName);
  CheckConsoleError();
  WriteLine("File size = " + IntegerToText(Entry.FileSize));
  CheckConsoleError();
  if (Lines.HoldsZeroByte()) {
    ReportNotText();
    return;
  }
  WriteLine("processing...");
  CheckConsoleError();
  Lines.ReplaceAllText(ReplaceEvery(Lines.JoinedText(), "FSD", "FSL", platform::SystemLeadBytes()));
  Lines.SaveLines(Entry.FileName);
}
