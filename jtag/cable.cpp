// The JTAG cable layer: parallel cables bit-banged through the port, USB adapters through their
// branch, every primitive starting and ending in Run-Test/Idle.
#include "jtag/cable.h"

#include "jtag/lpt.h"
#include "jtag/usb_adapter.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/port_io.h"

namespace dz {

std::uint32_t jtag_interface = 0;
std::uint16_t lpt_base = 0x378;
std::uint8_t wiggler_ctrl = 0;
std::uint32_t jtag_ir_length = 0;
std::uint32_t jtag_speed_hz = 0;

namespace {

// The data-register bits of one parallel cable kind during a clock cycle.
struct CablePins {
  std::uint8_t tck, tms, tdi;
  std::uint8_t fixed;       // other bits written with every cycle
  std::uint8_t tdo;         // status bit carrying TDO
  std::uint8_t tdo_invert;  // 1 when TDO is read inverted
};

inline CablePins cable_pins(std::uint32_t kind) {
  switch (kind) {
    case 0:
      return {0x01, 0x04, 0x02, 0x08, 0x80, 1};
    case 1:
      return {0x02, 0x04, 0x01, 0x00, 0x20, 0};
    case 2:
      return {0x04, 0x02, 0x08, static_cast<std::uint8_t>(wiggler_ctrl & 0x11), 0x80, 1};
    default:
      return {0x02, 0x04, 0x01, 0x00, 0x10, 0};
  }
}

// One TCK cycle: falling edge with TMS/TDI set, optional TDO sample, rising edge.
inline int clock_cycle(const CablePins& c, int tdi, int tms, int sample) {
  const std::uint8_t low =
      static_cast<std::uint8_t>(c.fixed | (tms ? c.tms : 0) | (tdi ? c.tdi : 0));
  const std::uint16_t base = lpt_base;
  port_io::port_write_byte(base, low);
  int tdo = -1;
  if (sample) {
    const std::uint8_t status = port_io::port_read_byte(static_cast<std::uint16_t>(base + 1));
    tdo = ((status & c.tdo) ? 1 : 0) ^ c.tdo_invert;
  }
  port_io::port_write_byte(base, static_cast<std::uint8_t>(low | c.tck));
  return tdo;
}

inline bool is_parallel() {
  return jtag_interface <= 3;
}
inline bool is_usb() {
  return jtag_interface == 4 || jtag_interface == 5;
}

}  // namespace

int jtag_clock_bit(int tdi, int tms, int sample) {
  if (!is_parallel()) return -1;
  return clock_cycle(cable_pins(jtag_interface), tdi, tms, sample);
}

void jtag_load_ir(std::uint32_t value) {
  if (is_usb()) {
    usb_load_ir(value);
    return;
  }
  // Without bits to shift there is no way out of Shift-IR: nothing is done.
  if (!is_parallel() || jtag_ir_length == 0) return;
  const CablePins c = cable_pins(jtag_interface);
  clock_cycle(c, 1, 1, 0);  // Select-DR-Scan
  clock_cycle(c, 1, 1, 0);  // Select-IR-Scan
  clock_cycle(c, 1, 0, 0);  // Capture-IR
  clock_cycle(c, 1, 0, 0);  // Shift-IR
  const std::uint32_t n = jtag_ir_length;
  for (std::uint32_t i = 0; i < n; ++i) {
    const int bit = i < 32 ? static_cast<int>((value >> i) & 1) : 0;
    clock_cycle(c, bit, i + 1 == n ? 1 : 0, 0);
  }
  clock_cycle(c, 1, 1, 0);  // Update-IR
  clock_cycle(c, 1, 0, 0);  // Run-Test/Idle
  port_io::port_flush();
}

void jtag_scan_dr(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                  std::uint32_t bit_count) {
  if (is_usb()) {
    usb_scan_dr(tdi_words, tdo_words, bit_count);
    return;
  }
  // Without bits to shift there is no way out of Shift-DR: nothing is done.
  if (!is_parallel() || bit_count == 0) return;
  const CablePins c = cable_pins(jtag_interface);
  clock_cycle(c, 1, 1, 0);  // Select-DR-Scan
  clock_cycle(c, 1, 0, 0);  // Capture-DR
  clock_cycle(c, 1, 0, 0);  // Shift-DR
  std::uint32_t i = 0;
  while (i < bit_count) {
    // One word at a time: the input word is read before the output word of the same index is
    // stored, so both may be one array.
    const std::uint32_t word_index = i / 32;
    const std::uint32_t in = tdi_words ? tdi_words[word_index] : 0;
    const std::uint32_t bits = bit_count - i < 32 ? bit_count - i : 32;
    std::uint32_t captured = 0;
    for (std::uint32_t b = 0; b < bits; ++b, ++i) {
      const int tdo = clock_cycle(c, static_cast<int>((in >> b) & 1), i + 1 == bit_count, 1);
      captured |= static_cast<std::uint32_t>(tdo) << b;
    }
    if (tdo_words) tdo_words[word_index] = captured;
  }
  clock_cycle(c, 1, 1, 0);  // Update-DR
  clock_cycle(c, 1, 0, 0);  // Run-Test/Idle
  port_io::port_flush();
}

void jtag_set_reset_lines(int trst, int srst) {
  if (is_usb()) {
    usb_set_reset_lines(trst, srst);
    return;
  }
  if (jtag_interface != 2) return;  // only the Wiggler has reset outputs
  std::uint8_t ctrl = wiggler_ctrl;
  ctrl = static_cast<std::uint8_t>(trst ? ctrl & ~0x10 : ctrl | 0x10);
  ctrl = static_cast<std::uint8_t>(srst ? ctrl | 0x01 : ctrl & ~0x01);
  wiggler_ctrl = ctrl;
  port_io::port_write_byte(lpt_base, ctrl);
  port_io::port_flush();
}

int jtag_reset_tap(int pulse) {
  if (jtag_interface > 5) return 1;
  if (pulse) {
    jtag_set_reset_lines(1, 1);
    clock::sleep_ms(1);
    jtag_set_reset_lines(0, 1);
    clock::sleep_ms(1);
  }
  jtag_set_reset_lines(0, 0);
  if (is_usb()) return usb_reset();
  const CablePins c = cable_pins(jtag_interface);
  for (int i = 0; i < 5; ++i) clock_cycle(c, 1, 1, 0);  // Test-Logic-Reset from anywhere
  clock_cycle(c, 1, 0, 0);                              // Run-Test/Idle
  port_io::port_flush();
  return 1;
}

namespace {
// A simulated module has no USB adapter: while one is installed, a USB choice runs on the
// Belvona parallel cable for as long as the cable is open, and the user's choice is put back at
// close so that it is what the settings keep.
std::uint32_t usb_kind_on_hold = 0;
}  // namespace

int jtag_open_cable(int report) {
  if (is_usb() && port_io::simulated_port() != nullptr) {
    usb_kind_on_hold = jtag_interface;
    jtag_interface = 0;
    debug_info("simulated module: the USB adapter choice runs on the parallel cable");
  }
  if (is_usb()) return usb_open(report);
  return lpt_open(report);
}

int jtag_close_cable() {
  int result = 1;
  if (is_parallel())
    result = lpt_close();
  else if (is_usb())
    result = usb_close();
  if (usb_kind_on_hold != 0) {
    jtag_interface = usb_kind_on_hold;
    usb_kind_on_hold = 0;
  }
  return result;
}

}  // namespace dz
