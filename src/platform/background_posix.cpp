#include "platform/background.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/interruptions.h"

namespace platform {

struct Background::Thread {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::function<void()>> waiting;
  std::size_t pending = 0;  // waiting, and the one running
  bool ending = false;
  std::thread thread;

  void Run() {
    std::unique_lock held(lock);
    for (;;) {
      changed.wait(held, [this] { return ending || !waiting.empty(); });
      if (waiting.empty()) return;
      auto work = std::move(waiting.front());
      waiting.pop_front();
      held.unlock();
      work();
      work = nullptr;
      held.lock();
      --pending;
      changed.notify_all();
    }
  }
};

// A thread that cannot be started leaves the work to the caller's thread.
Background::Background() : thread_(std::make_unique<Thread>()) {
  const InterruptionsHeld held;  // the new thread starts with this signal mask and keeps it
  try {
    thread_->thread = std::thread([thread = thread_.get()] { thread->Run(); });
  } catch (const std::system_error&) {
    thread_.reset();
  }
}

Background::~Background() {
  if (!thread_) return;
  {
    const std::lock_guard held(thread_->lock);
    thread_->ending = true;
  }
  thread_->changed.notify_all();
  thread_->thread.join();
}

void Background::Post(std::function<void()> work) {
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
