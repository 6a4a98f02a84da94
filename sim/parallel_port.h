#pragma once
// A PC parallel port with one of the four JTAG cables plugged in and a simulated processor at the
// other end. Data-register writes become TCK/TMS/TDI (and, on the Wiggler, TRST/SRST) at the
// processor's pins; status reads report TDO in the cable's status bit, inverted where the port
// hardware inverts it. Each port access costs about a microsecond on the virtual clock, like a
// real ISA-speed port. The clock moves in steps of at least 16 µs and at every flush; accesses
// are only counted while bits are shifted, when nothing on the module looks at the clock, and
// are put on the clock before anything else happens.
//
// Install it with port_io::set_simulated_port(&port) (or use the simulated-module attach of
// sim/targets.h) and the cable layer drives the simulated processor.
#include <cstdint>

#include "platform/port_io.h"
#include "sim/pxa.h"

namespace dz::sim {

class ParallelPortSim final : public port_io::Backend {
 public:
  // `cable_kind` 0..3 as the cable layer numbers them; `base` is the data register's address.
  ParallelPortSim(Pxa& cpu, std::uint32_t cable_kind, std::uint16_t base = 0x378);
  ~ParallelPortSim() override;

  void write(std::uint16_t address, std::uint8_t value) override;
  std::uint8_t read(std::uint16_t address) override;
  void flush() override;
  void opened(std::uint16_t base, std::uint32_t kind) override;
  bool shift_payload(std::uint16_t address, const std::uint8_t (&low)[2][2], std::uint8_t tck,
                     const std::uint32_t* tdi_words, std::uint32_t bit_count, bool sample_all,
                     const std::uint32_t* sample_words, std::uint8_t* statuses) override;

  // The cable plugged in (0..3); the cable layer may open another kind than the one built with.
  void set_cable_kind(std::uint32_t kind);
  std::uint32_t cable_kind() const { return kind_; }
  // Follows the cable kind the cable layer opens with (default on).
  void set_follow_open(bool follow) { follow_open_ = follow; }
  bool follow_open() const { return follow_open_; }

  Pxa& cpu() { return cpu_; }
  std::uint8_t data_register() const { return data_; }
  std::uint8_t control_register() const { return control_; }
  std::uint64_t writes() const { return writes_; }
  std::uint64_t reads() const { return reads_; }

  // Virtual microseconds per port access (default 1).
  void set_access_us(std::uint32_t us);

  // A module switched on late: it is off now and receives no clocks while the port is opened
  // the first `opens` times; it is switched on `data_writes` data-register writes into the open
  // after those (0 = as that open begins), which may be in the middle of a scan.
  void switch_on_late(std::uint32_t opens, std::uint32_t data_writes = 0);
  std::uint32_t opens() const { return opens_; }

 private:
  // Brings the virtual clock up to date with the accesses counted so far.
  void settle_clock();
  std::uint8_t status_register() const;
  Pxa& cpu_;
  std::uint32_t kind_ = 0;
  std::uint16_t base_;
  bool follow_open_ = true;
  port_io::CableWiring wiring_{};
  std::uint8_t data_ = 0;
  std::uint8_t control_ = 0;
  std::uint64_t writes_ = 0;
  std::uint64_t reads_ = 0;
  std::uint32_t access_us_ = 1;
  std::uint32_t pending_us_ = 0;   // accounted but not yet on the clock (less than 16 µs)
  std::uint64_t unaccounted_ = 0;  // accesses not yet accounted
  std::uint32_t opens_ = 0;
  // Late switch-on: the open after which the writes are counted, and how many come first.
  bool switch_on_pending_ = false;
  std::uint32_t switch_on_open_ = 0;
  std::uint32_t switch_on_writes_ = 0;
};

}  // namespace dz::sim
