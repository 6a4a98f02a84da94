// USB adapters: not built into this version. Opening tells the user that no adapter was found.
#include "jtag/usb_adapter.h"

#include "platform/ui.h"

namespace dz {

int usb_library_available() {
  return 0;
}

char usb_device_name[128] = "";

int usb_open(int report) {
  usb_device_name[0] = '\0';
  if (report)
    ui::message_box(ui::no_window,
                    "No compatible USB JTAG Adapter Found. Check USB Cable Connection.", "ERROR",
                    ui::MB_OK);
  return 0;
}

int usb_close() {
  return 1;
}

// No adapter can be open, so the scan branches have nothing to drive.
void usb_load_ir(std::uint32_t) {}
void usb_scan_dr(const std::uint32_t*, std::uint32_t*, std::uint32_t) {}
void usb_set_reset_lines(int, int) {}
int usb_reset() {
  return 0;
}
int usb_init_device(std::uint32_t) {
  return 0;
}

std::uint32_t jtag_clock_divisor(std::uint32_t speed_hz) {
  if (speed_hz == 0) return 2;
  const std::uint32_t divisor = 6000000u / speed_hz - 1u;  // wraps above 6 MHz, caught below
  return divisor > 0xFFFF ? 2 : divisor;
}

}  // namespace dz
