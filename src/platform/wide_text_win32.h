#pragma once

#include <string>
#include <string_view>

namespace platform {

// Names cross the Win32 seam here: camfix carries them as UTF-8, the
// system's wide-character calls take UTF-16. Only the Win32 backends include
// this. A sequence that is not valid UTF-8, or a lone surrogate, becomes
// U+FFFD.

std::wstring WideText(std::string_view utf8);
std::string Utf8Text(std::wstring_view wide);

}  // namespace platform
