#pragma once
// The operating system's clock, behind the switchable process clock of clock.h.
#include <cstdint>

namespace dz::clock::real {

uint32_t tick_ms();
void sleep_ms(uint32_t ms);
uint64_t now_us();  // monotonic

}  // namespace dz::clock::real
