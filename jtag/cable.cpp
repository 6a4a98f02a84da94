// The JTAG cable layer: parallel cables bit-banged through the port, USB adapters through their
// branch, every primitive starting and ending in Run-Test/Idle.
#include "jtag/cable.h"

#include <vector>

#include "jtag/lpt.h"
#include "jtag/usb_adapter.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/ftdi.h"
#include "platform/port_io.h"

namespace dz {

std::uint32_t jtag_interface = 0;
std::uint16_t lpt_base = 0x378;
std::uint8_t wiggler_ctrl = 0;
std::uint32_t jtag_ir_length = 0;
std::uint32_t jtag_speed_hz = 0;
std::uint32_t jtag_fast_programming = 0;

namespace {

// The data-register bits of the selected parallel cable during a clock cycle.
struct CablePins {
  std::uint8_t tck, tms, tdi;
  std::uint8_t fixed;  // other bits written with every cycle
  std::uint8_t tdo;    // status bit carrying TDO
  std::uint8_t tdo_invert;
};

// The pins of parallel cable `cable`; its reset outputs keep the levels last set in wiggler_ctrl.
inline CablePins cable_pins(const ParallelCable& cable) {
  const std::uint8_t reset_bits = static_cast<std::uint8_t>(cable.trst_n | cable.srst);
  return {cable.tck, cable.tms,
          cable.tdi, static_cast<std::uint8_t>(cable.always_high | (wiggler_ctrl & reset_bits)),
          cable.tdo, static_cast<std::uint8_t>(cable.tdo_inverted ? 1 : 0)};
}

// Only called for parallel kinds.
inline CablePins selected_pins() {
  return cable_pins(*parallel_cable(jtag_interface));
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
  return is_parallel_cable(jtag_interface);
}
inline bool is_usb() {
  return is_usb_adapter(jtag_interface);
}

}  // namespace

int jtag_clock_bit(int tdi, int tms, int sample) {
  if (!is_parallel()) return -1;
  return clock_cycle(selected_pins(), tdi, tms, sample);
}

void jtag_load_ir(std::uint32_t value) {
  if (is_usb()) {
    usb_load_ir(value);
    return;
  }
  // Without bits to shift there is no way out of Shift-IR: nothing is done.
  if (!is_parallel() || jtag_ir_length == 0) return;
  const CablePins c = selected_pins();
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

namespace {

// Which payload bits of a data scan read TDO: every bit, or those marked in `mask` (none when
// it is null).
struct Sampling {
  bool all;
  const std::uint32_t* mask;
  std::uint32_t word(std::uint32_t index) const {
    return all ? 0xFFFFFFFFu : (mask != nullptr ? mask[index] : 0u);
  }
};

// One clock cycle whose TDO read is queued in the port backend rather than answered at once.
inline void clock_cycle_deferred(const CablePins& c, int tdi, int tms, int sample) {
  const std::uint8_t low =
      static_cast<std::uint8_t>(c.fixed | (tms ? c.tms : 0) | (tdi ? c.tdi : 0));
  const std::uint16_t base = lpt_base;
  port_io::port_write_byte(base, low);
  if (sample) port_io::port_read_later(static_cast<std::uint16_t>(base + 1));
  port_io::port_write_byte(base, static_cast<std::uint8_t>(low | c.tck));
}

// The captured words from the status values of the sampled bits, in order; bits not read are 1.
void store_captured(const CablePins& c, std::uint32_t* tdo_words, std::uint32_t bit_count,
                    const Sampling& sampling, const std::uint8_t* statuses) {
  if (!tdo_words) return;
  std::uint32_t next = 0;
  for (std::uint32_t w = 0; w * 32 < bit_count; ++w) {
    const std::uint32_t sample = sampling.word(w);
    const std::uint32_t bits = bit_count - w * 32 < 32 ? bit_count - w * 32 : 32;
    std::uint32_t captured = 0;
    for (std::uint32_t b = 0; b < bits; ++b) {
      std::uint32_t tdo = 1;
      if ((sample >> b) & 1) tdo = ((statuses[next++] & c.tdo) ? 1u : 0u) ^ c.tdo_invert;
      captured |= tdo << b;
    }
    tdo_words[w] = captured;
  }
}

// Status values of a scan's sampled bits; grown once to the longest scan.
std::uint8_t* status_buffer(std::uint32_t count) {
  static std::vector<std::uint8_t> statuses;
  if (statuses.size() < count) statuses.resize(count);
  return statuses.data();
}

// The payload of a data scan on a parallel cable, the TAP in Shift-DR. Bits not read are stored
// as 1. A backend that batches reads (a network link) gets the same accesses in the same order,
// with the status reads answered together after the last bit instead of one round trip each; a
// simulated module may take the whole payload at once.
void shift_payload(const CablePins& c, const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                   std::uint32_t bit_count, const Sampling& sampling) {
  const std::uint8_t low[2][2] = {{c.fixed, static_cast<std::uint8_t>(c.fixed | c.tdi)},
                                  {static_cast<std::uint8_t>(c.fixed | c.tms),
                                   static_cast<std::uint8_t>(c.fixed | c.tms | c.tdi)}};
  std::uint8_t* statuses = status_buffer(bit_count);
  if (port_io::port_shift_payload(lpt_base, low, c.tck, tdi_words, bit_count, sampling.all,
                                  sampling.mask, statuses)) {
    store_captured(c, tdo_words, bit_count, sampling, statuses);
    return;
  }
  std::uint32_t i = 0;
  if (!port_io::port_batches_reads()) {
    while (i < bit_count) {
      // One word at a time: the input word is read before the output word of the same index is
      // stored, so both may be one array.
      const std::uint32_t word_index = i / 32;
      const std::uint32_t in = tdi_words ? tdi_words[word_index] : 0;
      const std::uint32_t sample = sampling.word(word_index);
      const std::uint32_t bits = bit_count - i < 32 ? bit_count - i : 32;
      std::uint32_t captured = 0;
      for (std::uint32_t b = 0; b < bits; ++b, ++i) {
        const int tdo = clock_cycle(c, static_cast<int>((in >> b) & 1), i + 1 == bit_count,
                                    static_cast<int>((sample >> b) & 1));
        captured |= static_cast<std::uint32_t>(tdo != 0) << b;  // -1 (not read) stores 1
      }
      if (tdo_words) tdo_words[word_index] = captured;
    }
    return;
  }
  // Batched: first every clock with its queued read, then the answers.
  std::uint32_t reads = 0;
  for (; i < bit_count; ++i) {
    const std::uint32_t in = tdi_words ? tdi_words[i / 32] : 0;
    const int sample = static_cast<int>((sampling.word(i / 32) >> (i % 32)) & 1);
    clock_cycle_deferred(c, static_cast<int>((in >> (i % 32)) & 1), i + 1 == bit_count, sample);
    reads += static_cast<std::uint32_t>(sample);
  }
  port_io::port_take_reads(statuses, reads);
  store_captured(c, tdo_words, bit_count, sampling, statuses);
}

void scan_dr_parallel(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                      std::uint32_t bit_count, const Sampling& sampling) {
  // Without bits to shift there is no way out of Shift-DR: nothing is done.
  if (bit_count == 0) return;
  const CablePins c = selected_pins();
  clock_cycle(c, 1, 1, 0);  // Select-DR-Scan
  clock_cycle(c, 1, 0, 0);  // Capture-DR
  clock_cycle(c, 1, 0, 0);  // Shift-DR
  shift_payload(c, tdi_words, tdo_words, bit_count, sampling);
  clock_cycle(c, 1, 1, 0);  // Update-DR
  clock_cycle(c, 1, 0, 0);  // Run-Test/Idle
  port_io::port_flush();
}

}  // namespace

void jtag_scan_dr(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                  std::uint32_t bit_count) {
  if (is_usb()) {
    usb_scan_dr(tdi_words, tdo_words, bit_count);
    return;
  }
  if (!is_parallel()) return;
  // Every payload bit reads TDO; in fast mode only when someone takes the captured bits.
  const bool read_all = tdo_words != nullptr || jtag_fast_programming == 0;
  scan_dr_parallel(tdi_words, tdo_words, bit_count, Sampling{read_all, nullptr});
}

void jtag_scan_dr_sampled(const std::uint32_t* tdi_words, std::uint32_t* tdo_words,
                          std::uint32_t bit_count, const std::uint32_t* sample_mask) {
  if (!is_parallel() || sample_mask == nullptr || tdo_words == nullptr) {
    jtag_scan_dr(tdi_words, tdo_words, bit_count);
    return;
  }
  scan_dr_parallel(tdi_words, tdo_words, bit_count, Sampling{false, sample_mask});
}

void jtag_set_reset_lines(int trst, int srst) {
  if (is_usb()) {
    usb_set_reset_lines(trst, srst);
    return;
  }
  // Of the parallel cables only the Wiggler has reset outputs.
  const ParallelCable* cable = parallel_cable(jtag_interface);
  if (cable == nullptr || (cable->trst_n == 0 && cable->srst == 0)) return;
  std::uint8_t ctrl = wiggler_ctrl;
  ctrl = static_cast<std::uint8_t>(trst ? ctrl & ~cable->trst_n : ctrl | cable->trst_n);
  ctrl = static_cast<std::uint8_t>(srst ? ctrl | cable->srst : ctrl & ~cable->srst);
  wiggler_ctrl = ctrl;
  port_io::port_write_byte(lpt_base, ctrl);
  port_io::port_flush();
}

int jtag_reset_tap(int pulse) {
  if (jtag_interface > last_adapter_kind) return 1;
  if (pulse) {
    jtag_set_reset_lines(1, 1);
    clock::sleep_ms(1);
    jtag_set_reset_lines(0, 1);
    clock::sleep_ms(1);
  }
  jtag_set_reset_lines(0, 0);
  if (is_usb()) return usb_reset();
  const CablePins c = selected_pins();
  for (int i = 0; i < 5; ++i) clock_cycle(c, 1, 1, 0);  // Test-Logic-Reset from anywhere
  clock_cycle(c, 1, 0, 0);                              // Run-Test/Idle
  port_io::port_flush();
  return 1;
}

namespace {
// A simulated module without a simulated USB adapter: while one is installed, a USB choice runs
// on the Belvona parallel cable for as long as the cable is open, and the user's choice is put back
// at close so that it is what the settings keep.
std::uint32_t usb_kind_on_hold = 0;
}  // namespace

int jtag_open_cable(int report) {
  if (is_usb() && port_io::simulated_port() != nullptr && ftdi::simulated_bus() == nullptr) {
    usb_kind_on_hold = jtag_interface;
    jtag_interface = adapter_number(AdapterKind::belvona);
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
