#pragma once

#include <cstddef>

namespace platform {

// Asks the system to back the not yet touched memory at [data, data + size)
// with large pages, so that filling a buffer of a huge file costs a few
// hundred page faults instead of tens of thousands. Only a hint.
void PreferLargePages(void* data, std::size_t size);

// Keeps memory that the program frees for its next allocations instead of
// handing it back to the system: every file of a run reuses the buffers of the
// one before, which a fresh allocation would have to clear page by page.
void ReuseFreedMemory();

}  // namespace platform
