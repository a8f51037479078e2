#include "platform/background.h"

namespace platform {

struct Background::Thread {};

Background::Background() = default;
Background::~Background() = default;

void Background::Post(std::function<void()> work) { work(); }

void Background::WaitUntilPending(std::size_t /*count*/) {}

}  // namespace platform
