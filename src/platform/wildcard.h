#pragma once

#include <string_view>

namespace platform {

// Whether `name` matches `pattern`, ignoring ASCII letter case: "*" stands for
// any run of bytes (none, dots included), "?" for any one byte, everything
// else for itself.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace platform
