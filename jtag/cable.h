#pragma once
// The JTAG cable layer: the only code that moves bits to and from the TAP. Parallel cables
// (kinds 0..3) bit-bang the port; USB adapters (kinds 4, 5) go through the USB adapter module.
// Scans shift least significant bit first; payloads are arrays of 32-bit words.
#include <cstdint>

namespace dz {

extern std::uint32_t jtag_interface;  // adapter kind 0..5; above 5 the scans do nothing
extern std::uint16_t lpt_base;        // data register; status +1, control +2
extern std::uint8_t wiggler_ctrl;     // Wiggler reset outputs (bits 4 and 0)
extern std::uint32_t jtag_ir_length;  // bits shifted by jtag_load_ir
extern std::uint32_t jtag_speed_hz;   // USB TCK frequency, 0 = automatic

int jtag_clock_bit(int tdi, int tms, int sample);
void jtag_load_ir(std::uint32_t value);
// `tdi_words` may be null (zeros), `tdo_words` may be null (discarded); both may be one array.
void jtag_scan_dr(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                  std::uint32_t bit_count);
void jtag_set_reset_lines(int trst, int srst);
int jtag_reset_tap(int pulse);
// Opens the selected adapter: 1 when ready; 0 otherwise, after telling the user why unless
// `report` is 0 (detection retries tell of a failing adapter once, not on every round).
int jtag_open_cable(int report = 1);
int jtag_close_cable();

}  // namespace dz
