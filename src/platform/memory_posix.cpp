#include "platform/memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace platform {

void PreferLargePages(void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const auto first = (start + kLargePage - 1) & ~(kLargePage - 1);
  const auto last = (start + size) & ~(kLargePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

}  // namespace platform
