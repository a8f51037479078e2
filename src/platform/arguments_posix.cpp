#include "platform/arguments.h"

#include <unistd.h>

namespace platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return {argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0)};
}

bool EnterFolder(const std::string& folder) { return chdir(folder.c_str()) == 0; }

bool SlashQuestionMarkAsksForHelp() { return false; }

}  // namespace platform
