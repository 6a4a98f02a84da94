#pragma once
// Milliseconds and sleeping. Everything in the program that waits or measures time goes through
// here, so that tests and the simulator can run on a virtual clock: a sleep then advances virtual
// time at once, and simulated devices (flash busy times, ready pins) read the same clock.
#include <cstdint>

namespace dz::clock {

// Milliseconds since an arbitrary origin; wraps like GetTickCount.
uint32_t tick_ms();
void sleep_ms(uint32_t ms);

// Virtual time in microseconds (meaningful on both clocks; on the real clock it is real time).
uint64_t now_us();

// Switches the whole process to the virtual clock (starting at 0) or back to the real one.
void use_virtual_clock();
void use_real_clock();
bool is_virtual();

// Moves virtual time forward; simulated hardware calls this for the time its work takes (a TCK
// cycle, a bus access). Does nothing on the real clock.
void advance_us(uint64_t us);

}  // namespace dz::clock
