#pragma once
// The USB branch of the cable layer (adapter kinds 4 and 5, FTDI-based adapters) through the
// adapter library of platform/ftdi.h: instruction scans are written at once, write-only data scans
// are queued and carried out together when a reading scan, an instruction scan or the size limit
// needs the queue executed, so the order on the wire is the order of the calls.
#include <cstdint>

#include "platform/ftdi.h"

namespace dz {

// State of the open adapter.
extern ftdi::Handle usb_handle;         // 0 = none; not cleared by the close
extern int usb_hispeed;                 // 1 when a high-speed device is in use
extern char usb_device_name[128];       // name of the opened adapter, upper case
extern std::uint32_t usb_pending_bits;  // data-register bits queued and not yet executed
// A data scan that would raise usb_pending_bits above this executes the queue first.
inline constexpr std::uint32_t usb_flush_limit = 0x20000;

// 1 when the USB adapter library can be used.
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

// The general-purpose pin records for the reset outputs of adapter `kind` (4 or 5).
struct UsbResetPins {
  ftdi::LowPins low;
  ftdi::HiSpeedHighPins high;  // pins 5..8 only for high-speed devices
};
UsbResetPins usb_reset_pins(std::uint32_t kind, int trst, int srst);

}  // namespace dz
