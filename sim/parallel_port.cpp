// The simulated parallel port with a JTAG cable.
#include "sim/parallel_port.h"

#include "platform/clock.h"

namespace dz::sim {
namespace {

// How each cable connects the port's pins to the processor's JTAG pins, as the cables are built:
// data-register bits for TCK, TMS, TDI (and the Wiggler's NOT TRST and SRST), and the status bit
// that carries TDO, which reads inverted where it is Busy (S7). Any other kind is wired to nothing.
port_io::CableWiring plugged_cable(std::uint32_t kind) {
  switch (kind) {
    case 0:  // Belvona: TDO on Busy
      return {0x01, 0x04, 0x02, 0, 0, 0x80, true};
    case 1:  // Z&O: TDO on Paper-Out
      return {0x02, 0x04, 0x01, 0, 0, 0x20, false};
    case 2:  // Wiggler: D4 = NOT TRST, D0 = SRST, TDO on Busy
      return {0x04, 0x02, 0x08, 0x10, 0x01, 0x80, true};
    case 3:  // Insight / Xilinx: TDO on Select
      return {0x02, 0x04, 0x01, 0, 0, 0x10, false};
    default:
      return {};
  }
}

}  // namespace

ParallelPortSim::ParallelPortSim(Pxa& cpu, std::uint32_t cable_kind, std::uint16_t base)
    : cpu_(cpu), base_(base) {
  set_cable_kind(cable_kind);
}

ParallelPortSim::~ParallelPortSim() {
  flush();
}

void ParallelPortSim::set_cable_kind(std::uint32_t kind) {
  kind_ = kind;
  wiring_ = plugged_cable(kind);
}

void ParallelPortSim::opened(std::uint16_t base, std::uint32_t kind) {
  base_ = base;
  ++opens_;
  if (follow_open_ && kind <= 3) set_cable_kind(kind);
}

void ParallelPortSim::switch_on_late(std::uint32_t opens, std::uint32_t data_writes) {
  cpu_.set_powered(false);
  switch_on_pending_ = true;
  switch_on_open_ = opens_ + opens + 1;
  switch_on_writes_ = data_writes;
}

void ParallelPortSim::set_access_us(std::uint32_t us) {
  settle_clock();
  access_us_ = us;
}

// The clock as if every access had added its cost to a pending sum that goes onto the clock
// whenever it reaches 16 µs: the first step after the pending sum, then whole steps, the rest
// pending.
void ParallelPortSim::settle_clock() {
  if (unaccounted_ == 0) return;
  std::uint64_t n = unaccounted_;
  unaccounted_ = 0;
  const std::uint64_t a = access_us_;
  if (a == 0) return;
  const std::uint64_t first = (16 - pending_us_ + a - 1) / a;
  if (n < first) {
    pending_us_ += static_cast<std::uint32_t>(n * a);
    return;
  }
  std::uint64_t advance = pending_us_ + first * a;
  n -= first;
  const std::uint64_t step = (16 + a - 1) / a;
  advance += n / step * step * a;
  pending_us_ = static_cast<std::uint32_t>(n % step * a);
  clock::advance_us(advance);
}

void ParallelPortSim::flush() {
  settle_clock();
  if (pending_us_ != 0) clock::advance_us(pending_us_);
  pending_us_ = 0;
}

void ParallelPortSim::write(std::uint16_t address, std::uint8_t value) {
  ++writes_;
  ++unaccounted_;
  // While bits are shifted a write only moves the TAP's shift register and TDO; anything else
  // (a capture, an update, a reset line, power) may make the module look at the clock.
  const TapState state = cpu_.tap().state();
  const bool shifting = state == TapState::shift_dr || state == TapState::shift_ir;
  const std::uint8_t reset_bits = static_cast<std::uint8_t>(wiring_.trst_n | wiring_.srst);
  if (!shifting || switch_on_pending_ || address != base_ || ((value ^ data_) & reset_bits) != 0)
    settle_clock();
  if (address == base_) {
    if (switch_on_pending_ && opens_ >= switch_on_open_) {
      if (switch_on_writes_ == 0) {
        switch_on_pending_ = false;
        cpu_.set_powered(true);  // between the previous write and this one
      } else {
        --switch_on_writes_;
      }
    }
    data_ = value;
    if (wiring_.trst_n != 0) {
      // Wiggler: D4 low asserts TRST, D0 high asserts SRST.
      cpu_.set_trst((value & wiring_.trst_n) == 0);
      cpu_.set_srst((value & wiring_.srst) != 0);
    }
    cpu_.set_jtag_pins((value & wiring_.tck) != 0, (value & wiring_.tms) != 0,
                       (value & wiring_.tdi) != 0);
  } else if (address == base_ + 2) {
    control_ = value;
  }
}

std::uint8_t ParallelPortSim::read(std::uint16_t address) {
  ++reads_;
  ++unaccounted_;  // a read changes nothing on the module
  if (address == base_) return data_;
  if (address == base_ + 2) return control_;
  if (address != base_ + 1) return 0xFF;
  return status_register();
}

std::uint8_t ParallelPortSim::status_register() const {
  // Idle status lines (nError, Select, Paper-Out, nAck) read high, Busy low, the three unused
  // bits high; then the cable's TDO bit, inverted on Busy by the port hardware.
  std::uint8_t status = 0x7F & ~wiring_.tdo_status;
  const bool tdo = cpu_.tdo();
  if (tdo != wiring_.tdo_inverted) status |= wiring_.tdo_status;
  return status;
}

bool ParallelPortSim::shift_payload(std::uint16_t address, const std::uint8_t (&low)[2][2],
                                    std::uint8_t tck, const std::uint32_t* tdi_words,
                                    std::uint32_t bit_count, bool sample_all,
                                    const std::uint32_t* sample_words, std::uint8_t* statuses) {
  // Taken at once only when every write would be a plain falling then rising TCK edge in
  // Shift-DR at the processor's pins, by this port's own wiring; otherwise bit by bit.
  Tap& tap = cpu_.tap();
  if (address != base_ || bit_count == 0 || switch_on_pending_ || !cpu_.powered() ||
      tap.trst_asserted() || tap.state() != TapState::shift_dr || !tap.tck())
    return false;
  const std::uint8_t reset_bits = static_cast<std::uint8_t>(wiring_.trst_n | wiring_.srst);
  bool pin_tms[2][2], pin_tdi[2][2];
  for (int m = 0; m < 2; ++m)
    for (int d = 0; d < 2; ++d) {
      const std::uint8_t falling = low[m][d];
      const std::uint8_t rising = static_cast<std::uint8_t>(falling | tck);
      if ((falling & wiring_.tck) != 0 || (rising & wiring_.tck) == 0) return false;
      if (((falling ^ data_) & reset_bits) != 0 || ((rising ^ data_) & reset_bits) != 0)
        return false;
      pin_tms[m][d] = (rising & wiring_.tms) != 0;
      pin_tdi[m][d] = (rising & wiring_.tdi) != 0;
    }
  // Only the last bit may leave Shift-DR.
  if (pin_tms[0][0] || pin_tms[0][1]) return false;
  const std::uint8_t status_base = static_cast<std::uint8_t>(0x7F & ~wiring_.tdo_status);
  std::uint32_t reads = 0;
  int last_tdi = 0;
  for (std::uint32_t i = 0; i < bit_count; ++i) {
    const std::uint32_t word = i / 32, bit = i % 32;
    const int d = tdi_words ? static_cast<int>((tdi_words[word] >> bit) & 1) : 0;
    const int m = i + 1 == bit_count ? 1 : 0;
    const bool tdo = tap.shift_dr_cycle(pin_tms[m][d], pin_tdi[m][d]);
    const bool sampled =
        sample_all || (sample_words != nullptr && ((sample_words[word] >> bit) & 1) != 0);
    if (sampled)
      statuses[reads++] = tdo != wiring_.tdo_inverted
                              ? static_cast<std::uint8_t>(status_base | wiring_.tdo_status)
                              : status_base;
    last_tdi = d;
  }
  // The port as the accesses would have left it.
  data_ = static_cast<std::uint8_t>(low[1][last_tdi] | tck);
  writes_ += 2ull * bit_count;
  reads_ += reads;
  unaccounted_ += 2ull * bit_count + reads;
  return true;
}

}  // namespace dz::sim
