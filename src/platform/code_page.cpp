#include "platform/code_page.h"

namespace platform {

LeadByteSet LeadBytesFromRanges(std::span<const unsigned char> ranges) {
  LeadByteSet lead_bytes{};
  for (std::size_t pair = 0; pair + 1 < ranges.size(); pair += 2) {
    const unsigned first = ranges[pair];
    const unsigned last = ranges[pair + 1];
    if (first == 0 && last == 0) break;
    for (unsigned byte = first; byte <= last; ++byte) lead_bytes[byte] = true;
  }
  return lead_bytes;
}

const char* FileNameAfter(const char* path, std::string_view separators,
                          const LeadByteSet& lead_bytes) {
  const char* name = path;
  for (const char* at = path; *at != '\0'; ++at) {
    if (lead_bytes[static_cast<unsigned char>(*at)]) {
      if (at[1] == '\0') break;
      ++at;
    } else if (separators.find(*at) != std::string_view::npos) {
      name = at + 1;
    }
  }
  return name;
}

std::string ConsoleText(const std::string& name) { return ConsoleSafeText(AnsiText(name)); }

}  // namespace platform
