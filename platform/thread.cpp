// Worker threads on std::thread (MinGW builds use the posix thread model, so this serves both
// platforms). A finished routine marks its shared state, which lets wait() use a bounded time-out.
#include "platform/thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace dz::threads {

struct Thread::State {
  std::mutex mutex;
  std::condition_variable finished_cv;
  bool finished = false;
  std::mutex handle_mutex;  // guards `handle`
  std::thread handle;
};

Thread Thread::start(std::function<void()> routine) {
  Thread t;
  t.state_ = std::make_shared<State>();
  auto state = t.state_;
  std::lock_guard hold(state->handle_mutex);
  state->handle = std::thread([state, routine = std::move(routine)]() mutable {
    if (routine) routine();
    routine = nullptr;  // release what it captured before anyone learns it has finished
    std::lock_guard lock(state->mutex);
    state->finished = true;
    state->finished_cv.notify_all();
  });
  return t;
}

Thread::Thread(Thread&&) noexcept = default;

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    detach();
    state_ = std::move(other.state_);
  }
  return *this;
}

Thread::~Thread() {
  detach();
}

bool Thread::wait(uint32_t timeout_ms) {
  if (!state_) return true;
  {
    std::unique_lock lock(state_->mutex);
    if (!state_->finished_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                      [&] { return state_->finished; })) {
      return false;
    }
  }
  // The routine has returned; collect the thread so that it does not linger.
  std::lock_guard hold(state_->handle_mutex);
  if (state_->handle.joinable() && state_->handle.get_id() != std::this_thread::get_id()) {
    state_->handle.join();
  }
  return true;
}

void Thread::join() {
  if (!state_) return;
  std::lock_guard hold(state_->handle_mutex);
  if (state_->handle.joinable() && state_->handle.get_id() != std::this_thread::get_id()) {
    state_->handle.join();
  }
}

void Thread::detach() {
  if (!state_) return;
  {
    std::lock_guard hold(state_->handle_mutex);
    if (state_->handle.joinable()) state_->handle.detach();
  }
  state_.reset();
}

bool Thread::running() const {
  if (!state_) return false;
  std::lock_guard lock(state_->mutex);
  return !state_->finished;
}

}  // namespace dz::threads
