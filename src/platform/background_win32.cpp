#include "platform/background.h"

namespace platform {

// No helper thread: thread_ stays empty, and the work runs at once.
struct Background::Thread {};

Background::Background() = default;
Background::~Background() = default;

void Background::Post(std::function<void()>&& work) {
  if (!thread_) work();
}

void Background::WaitUntilPending(std::size_t /*count*/) {}

}  // namespace platform
