#pragma once
// The JTAG cable layer: the only code that moves bits to and from the TAP. Parallel cables
// bit-bang the port after the wiring in their table record; USB adapters go through the USB
// adapter module. Scans shift least significant bit first; payloads are arrays of 32-bit words.
#include <cstdint>
#include <iterator>

namespace dz {

// The adapter kinds, numbered as the "JTAGInterface" setting stores them.
enum class AdapterKind : std::uint32_t {
  belvona = 0,  // parallel cables
  zo = 1,
  wiggler = 2,
  insight = 3,
  usb_amontec = 4,  // USB adapters: Amontec (or any adapter not named Olimex)
  usb_olimex = 5,   // the two differ only in the wiring of the reset outputs
};
constexpr std::uint32_t adapter_number(AdapterKind kind) {
  return static_cast<std::uint32_t>(kind);
}
// The largest valid kind: above it the scans do nothing.
constexpr std::uint32_t last_adapter_kind = adapter_number(AdapterKind::usb_olimex);
constexpr bool is_parallel_cable(std::uint32_t kind) {
  return kind <= adapter_number(AdapterKind::insight);
}
constexpr bool is_usb_adapter(std::uint32_t kind) {
  return kind == adapter_number(AdapterKind::usb_amontec) ||
         kind == adapter_number(AdapterKind::usb_olimex);
}

// One parallel cable's wiring: data-register bits driven during a clock cycle, and the status bit
// that carries TDO.
struct ParallelCable {
  AdapterKind kind;
  const char* name;
  std::uint8_t tck, tms, tdi;
  std::uint8_t always_high;  // data bits written as 1 with every clock
  std::uint8_t trst_n;       // data bit carrying NOT TRST (0 = the cable has none)
  std::uint8_t srst;         // data bit carrying SRST (0 = none)
  std::uint8_t tdo;          // status bit carrying TDO
  bool tdo_inverted;         // the port reports that status bit inverted
};

// The four parallel cables, indexed by kind. S7 (Busy, 0x80) is inverted by the port hardware.
inline constexpr ParallelCable parallel_cables[] = {
    {.kind = AdapterKind::belvona,
     .name = "Belvona",
     .tck = 0x01,
     .tms = 0x04,
     .tdi = 0x02,
     .always_high = 0x08,
     .trst_n = 0,
     .srst = 0,
     .tdo = 0x80,
     .tdo_inverted = true},
    {.kind = AdapterKind::zo,
     .name = "Z&O",
     .tck = 0x02,
     .tms = 0x04,
     .tdi = 0x01,
     .always_high = 0,
     .trst_n = 0,
     .srst = 0,
     .tdo = 0x20,
     .tdo_inverted = false},
    {.kind = AdapterKind::wiggler,
     .name = "Wiggler",
     .tck = 0x04,
     .tms = 0x02,
     .tdi = 0x08,
     .always_high = 0,
     .trst_n = 0x10,
     .srst = 0x01,
     .tdo = 0x80,
     .tdo_inverted = true},
    {.kind = AdapterKind::insight,
     .name = "Insight / Xilinx",
     .tck = 0x02,
     .tms = 0x04,
     .tdi = 0x01,
     .always_high = 0,
     .trst_n = 0,
     .srst = 0,
     .tdo = 0x10,
     .tdo_inverted = false},
};

static_assert(std::size(parallel_cables) == adapter_number(AdapterKind::insight) + 1);
static_assert(parallel_cables[0].kind == AdapterKind::belvona &&
              parallel_cables[1].kind == AdapterKind::zo &&
              parallel_cables[2].kind == AdapterKind::wiggler &&
              parallel_cables[3].kind == AdapterKind::insight);

// The record of parallel cable `kind`; null for any other kind.
constexpr const ParallelCable* parallel_cable(std::uint32_t kind) {
  return is_parallel_cable(kind) ? &parallel_cables[kind] : nullptr;
}

extern std::uint32_t
    jtag_interface;                // adapter kind (AdapterKind) 0..5; above 5 the scans do nothing
extern std::uint16_t lpt_base;     // data register; status +1, control +2
extern std::uint8_t wiggler_ctrl;  // Wiggler reset outputs (bits 4 and 0)
extern std::uint32_t jtag_ir_length;  // bits shifted by jtag_load_ir
extern std::uint32_t jtag_speed_hz;   // USB TCK frequency, 0 = automatic
// Fast programming ("JTAGFastProgramming", 0 = off): the cable and the flash drivers take the
// shorter ways that leave the same bytes on flash (no TDO reads nobody takes, pipelined reads,
// no fixed pause after a buffer program). Off keeps the port traffic and pauses as they are.
extern std::uint32_t jtag_fast_programming;

int jtag_clock_bit(int tdi, int tms, int sample);
void jtag_load_ir(std::uint32_t value);
// `tdi_words` may be null (zeros), `tdo_words` may be null (discarded); both may be one array.
void jtag_scan_dr(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                  std::uint32_t bit_count);
// A capturing data scan that needs only some of the captured bits: `sample_mask` (same word
// layout) marks them. Parallel cables read TDO only for those bits; the others are stored as 1.
// Other adapters capture every bit, as jtag_scan_dr does.
void jtag_scan_dr_sampled(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                          std::uint32_t bit_count, const std::uint32_t* sample_mask);
void jtag_set_reset_lines(int trst, int srst);
int jtag_reset_tap(int pulse);
// Opens the selected adapter: 1 when ready; 0 otherwise, after telling the user why unless
// `report` is 0 (detection retries tell of a failing adapter once, not on every round).
int jtag_open_cable(int report = 1);
int jtag_close_cable();

}  // namespace dz
