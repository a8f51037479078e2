#include "platform/background.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>

#include "platform/interruptions.h"

namespace platform {

struct Background::Thread {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::function<void()>> waiting;
  std::size_t pending = 0;  // waiting, and the one running
  bool ending = false;
  pthread_t thread{};
};

namespace {

// The work is a few system calls deep: a small stack keeps the address space
// camfix needs close to what it was with one thread.
constexpr std::size_t kStackSize = std::size_t{128} << 10;

}  // namespace

// A thread that cannot be started leaves the work to the caller's thread.
Background::Background() : thread_(std::make_unique<Thread>()) {
  const InterruptionsHeld held;  // the new thread starts with this signal mask and keeps it
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, kStackSize);
  const auto run = [](void* state) -> void* {
    auto& thread = *static_cast<Thread*>(state);
    std::unique_lock held(thread.lock);
    for (;;) {
      thread.changed.wait(held, [&] { return thread.ending || !thread.waiting.empty(); });
      if (thread.waiting.empty()) return nullptr;
      auto work = std::move(thread.waiting.front());
      thread.waiting.pop_front();
      held.unlock();
      work();
      work = nullptr;
      held.lock();
      --thread.pending;
      thread.changed.notify_all();
    }
  };
  if (pthread_create(&thread_->thread, &attributes, run, thread_.get()) != 0) thread_.reset();
  pthread_attr_destroy(&attributes);
}

Background::~Background() {
  if (!thread_) return;
  {
    const std::lock_guard held(thread_->lock);
    thread_->ending = true;
  }
  thread_->changed.notify_all();
  pthread_join(thread_->thread, nullptr);
}

void Background::Post(std::function<void()>&& work) {
  if (!thread_) return work();
  {
    const std::lock_guard held(thread_->lock);
    thread_->waiting.push_back(std::move(work));
    ++thread_->pending;
  }
  thread_->changed.notify_all();
}

void Background::WaitUntilPending(std::size_t count) {
  if (!thread_) return;
  std::unique_lock held(thread_->lock);
  thread_->changed.wait(held, [&] { return thread_->pending <= count; });
}

}  // namespace platform
