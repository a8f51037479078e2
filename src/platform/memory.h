#pragma once

#include <cstddef>

namespace platform {

// Asks the system to back the not yet touched memory at [data, data + size)
// with large pages, so that filling a buffer of a huge file costs a few
// hundred page faults instead of tens of thousands. Only a hint.
void PreferLargePages(void* data, std::size_t size);

}  // namespace platform
