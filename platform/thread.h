#pragma once
// Worker threads: start a routine, wait for it with a bounded time-out, or let it go.
#include <cstdint>
#include <functional>
#include <memory>

namespace dz::threads {

class Thread {
 public:
  Thread() = default;
  // Starts `routine` on a new thread.
  static Thread start(std::function<void()> routine);
  Thread(Thread&&) noexcept;
  Thread& operator=(Thread&&) noexcept;
  ~Thread();  // a thread not waited for is detached and finishes on its own

  // Waits at most `timeout_ms` (real time) for the routine to return; true when it has.
  bool wait(uint32_t timeout_ms);
  // Waits without limit.
  void join();
  void detach();
  bool running() const;
  explicit operator bool() const { return state_ != nullptr; }

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace dz::threads
