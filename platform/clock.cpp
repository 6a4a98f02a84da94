// The process clock: real time from the operating system, or a virtual time that only moves when
// someone sleeps or a simulated device accounts for its work.
#include "platform/clock.h"

#include <atomic>
#include <mutex>

#include "platform/clock_real.h"

namespace dz::clock {
namespace {

struct ClockState {
  std::atomic<int> virtual_on{0};
  std::mutex mutex;  // serialises changes to virtual time
  std::atomic<uint64_t> virtual_us{0};
};

ClockState& state() {
  static ClockState s;
  return s;
}

}  // namespace

uint32_t tick_ms() {
  if (state().virtual_on.load()) return static_cast<uint32_t>(state().virtual_us.load() / 1000);
  return real::tick_ms();
}

void sleep_ms(uint32_t ms) {
  if (state().virtual_on.load()) {
    advance_us(static_cast<uint64_t>(ms) * 1000);
    return;
  }
  real::sleep_ms(ms);
}

uint64_t now_us() {
  if (state().virtual_on.load()) return state().virtual_us.load();
  return real::now_us();
}

void use_virtual_clock() {
  std::lock_guard lock(state().mutex);
  state().virtual_us.store(0);
  state().virtual_on.store(1);
}

void use_real_clock() {
  std::lock_guard lock(state().mutex);
  state().virtual_on.store(0);
}

bool is_virtual() {
  return state().virtual_on.load() != 0;
}

void advance_us(uint64_t us) {
  if (!state().virtual_on.load()) return;
  state().virtual_us.fetch_add(us);
}

}  // namespace dz::clock
