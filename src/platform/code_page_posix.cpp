#include "platform/code_page.h"

namespace platform {

// File names and texts are bytes here: no double-byte rule, no conversion.
const LeadByteSet& SystemLeadBytes() { return kNoLeadBytes; }

std::string AnsiText(const std::string& name) { return name; }

void ConvertToOem(char* /*text*/) {}

}  // namespace platform
