#include "platform/module.h"

#include <windows.h>

#include "platform/code_page.h"

namespace platform {

namespace {

// GetModuleFileNameA leaves a cut name unterminated on older systems.
bool ModuleFileName(HMODULE module, char* path, std::size_t capacity) {
  const DWORD length = GetModuleFileNameA(module, path, static_cast<DWORD>(capacity));
  path[length < capacity ? length : capacity - 1] = '\0';
  return length != 0;
}

}  // namespace

bool LocateModule(std::uintptr_t address, char* path, std::size_t capacity, std::uintptr_t& base) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) == 0 ||
      info.State != MEM_COMMIT) {
    return false;
  }
  if (!ModuleFileName(static_cast<HMODULE>(info.AllocationBase), path, capacity)) return false;
  base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
  return true;
}

void ProgramFileName(char* path, std::size_t capacity) { ModuleFileName(nullptr, path, capacity); }

// Backslash or slash, never the second byte of a double-byte character.
const char* FileNameOf(const char* path) { return FileNameAfter(path, "\\/", SystemLeadBytes()); }

}  // namespace platform
