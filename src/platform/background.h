#pragma once

#include <cstddef>
#include <functional>
#include <memory>

namespace platform {

// Work that runs beside camfix's own thread, in the order it was handed in.
// POSIX: one thread, started with every interruption held back, so that
// interruptions only ever reach camfix's own thread and its holds keep
// working; it names and removes no file, though it may write into the one
// an interruption removes. Windows: each piece runs at once on the caller's
// thread.
class Background {
 public:
  Background();
  // Runs what is still waiting, then ends the thread.
  ~Background();
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

  void Post(std::function<void()>&& work);
  // Waits until at most `count` of the pieces handed in have yet to end.
  void WaitUntilPending(std::size_t count);

 private:
  struct Thread;
  std::unique_ptr<Thread> thread_;
};

}  // namespace platform
