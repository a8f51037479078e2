#include "platform/memory.h"

namespace platform {

// Large pages on Windows need a privilege that an ordinary user lacks.
void PreferLargePages(void* /*data*/, std::size_t /*size*/) {}

}  // namespace platform
