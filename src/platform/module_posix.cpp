#include "platform/module.h"

#include <cstring>
#include <dlfcn.h>
#include <sys/auxv.h>
#include <unistd.h>

#include "platform/code_page.h"

namespace platform {

// The program itself is named by its file, not by the name it was started
// under; shared libraries by their paths.
bool LocateModule(std::uintptr_t address, char* path, std::size_t capacity, std::uintptr_t& base) {
  Dl_info info{};
  Dl_info program{};
  if (address == 0 || dladdr(reinterpret_cast<void*>(address), &info) == 0) return false;
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return false;
  base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  if (dladdr(reinterpret_cast<void*>(&ProgramFileName), &program) != 0 &&
      program.dli_fbase == info.dli_fbase) {
    ProgramFileName(path, capacity);
    return true;
  }
  std::strncpy(path, info.dli_fname, capacity - 1);
  path[capacity - 1] = '\0';
  return true;
}

// Without /proc, the name the program was started under.
void ProgramFileName(char* path, std::size_t capacity) {
  const ssize_t length = readlink("/proc/self/exe", path, capacity - 1);
  path[length > 0 ? length : 0] = '\0';
  const auto* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
  if (length <= 0 && started != nullptr) {
    std::strncpy(path, started, capacity - 1);
    path[capacity - 1] = '\0';
  }
}

const char* FileNameOf(const char* path) { return FileNameAfter(path, "/", kNoLeadBytes); }

}  // namespace platform
