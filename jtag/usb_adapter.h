#pragma once
// The USB branch of the cable layer (adapter kinds 4 and 5, FTDI-based adapters). This version of
// the program carries no USB adapter driver: the library check fails, and opening reports that no
// adapter was found, so the kinds 4 and 5 never reach the scan operations below.
#include <cstdint>

namespace dz {

// Name of the opened USB adapter, upper case; empty while none is open (parallel cables).
extern char usb_device_name[128];

// 1 when the USB adapter library can be loaded.
int usb_library_available();
// Branch of jtag_open_cable: 1 when an adapter is open and initialised, else 0 after a message
// (none when `report` is 0).
int usb_open(int report = 1);
// Branch of jtag_close_cable; always 1.
int usb_close();

// Branches of the scan primitives for kinds 4 and 5.
void usb_load_ir(std::uint32_t value);
void usb_scan_dr(const std::uint32_t* tdi_words, std::uint32_t* tdo_words, std::uint32_t bit_count);
void usb_set_reset_lines(int trst, int srst);
// Re-initialises the adapter with the divisor of jtag_speed_hz; 1 on success.
int usb_reset();
// Re-initialises the adapter with `divisor`; 1 on success.
int usb_init_device(std::uint32_t divisor);
// The clock divisor for jtag_speed_hz: 6000000 / speed - 1, or 2 when the speed is 0 or the
// result exceeds 0xFFFF.
std::uint32_t jtag_clock_divisor(std::uint32_t speed_hz);

}  // namespace dz
