#include <cassert>

#include "repair/repair_run.h"

// Any drill report: no crash, and the table has neither the end mark nor an unreplaced size.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto table = CutToolTable(std::string_view(reinterpret_cast<const char*>(data), size));
  assert(table.find("----") == std::string::npos);
  assert(table.find("      .") == std::string::npos);
  return 0;
}
