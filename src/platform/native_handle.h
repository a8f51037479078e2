#pragma once

#include <cstdint>

namespace platform {

// A platform handle as an integer: a file descriptor on POSIX, a HANDLE on Windows.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kInvalidHandle = -1;

// A platform error code: errno on POSIX, GetLastError() on Windows.
using ErrorCode = std::int32_t;

}  // namespace platform
