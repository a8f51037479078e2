#include "platform/memory.h"

namespace platform {

// Large pages on Windows need a privilege that an ordinary user lacks.
void PreferLargePages(void* /*data*/, std::size_t /*size*/) {}

// The Windows heap keeps large blocks it can reuse on its own.
void ReuseFreedMemory() {}

}  // namespace platform
