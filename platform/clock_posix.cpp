// Real clock on POSIX systems: CLOCK_MONOTONIC and nanosleep.
#include <cerrno>
#include <ctime>

#include "platform/clock_real.h"

namespace dz::clock::real {

uint64_t now_us() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

uint32_t tick_ms() {
  return static_cast<uint32_t>(now_us() / 1000);
}

void sleep_ms(uint32_t ms) {
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec rem{};
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

}  // namespace dz::clock::real
