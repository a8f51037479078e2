#include "platform/interruptions.h"

#include <cstring>

namespace platform {

namespace {

// Fixed storage: the handler may only touch what needs no allocation.
char named_file[4096] = {};
int holds = 0;  // nested holds; camfix's own thread only

}  // namespace

void RemoveOnInterruption(const std::string& name) {
  static bool installed = false;
  if (!installed && !name.empty()) {
    interruptions::InstallHandler();
    installed = true;
  }
  const InterruptionsHeld held;
  const auto length = name.size() < sizeof named_file ? name.size() : 0;
  std::memcpy(named_file, name.data(), length);
  named_file[length] = '\0';
}

InterruptionsHeld::InterruptionsHeld() {
  if (holds++ == 0) interruptions::Hold();
}

InterruptionsHeld::~InterruptionsHeld() {
  if (--holds == 0) interruptions::Release();
}

void interruptions::RemoveNamedFile() {
  if (named_file[0] != '\0') RemoveFileNow(named_file);
}

}  // namespace platform
