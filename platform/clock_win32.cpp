// Real clock on Windows: the tick counter and Sleep; microseconds from the performance counter.
#include <windows.h>

#include "platform/clock_real.h"

namespace dz::clock::real {

uint32_t tick_ms() {
  return static_cast<uint32_t>(GetTickCount());
}

void sleep_ms(uint32_t ms) {
  Sleep(ms);
}

uint64_t now_us() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  const uint64_t ticks = static_cast<uint64_t>(c.QuadPart);
  // Split to keep the product inside 64 bits.
  return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

}  // namespace dz::clock::real
