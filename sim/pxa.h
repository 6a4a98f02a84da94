#pragma once
// A simulated processor seen from its pins: the TAP with the processor's IDCODE, instruction
// codes and boundary register, and the pin model (which cell drives, enables or samples which
// pin). In EXTEST every Update-DR recomputes the bus pins from the update latches — a pin whose
// output-enable cell is off is not driven and reads as the bus's pull-up — and hands them to every
// attached BusDevice; every Capture-DR asks the devices what they drive and fills the input cells.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bus.h"
#include "sim/pxa_pins.h"
#include "sim/tap.h"

namespace dz::sim {

enum class CpuModel : std::uint8_t { sa1110, pxa255, pxa270, pxa320, pxa300, pxa310 };

struct CpuModelInfo {
  CpuModel model;
  const char* name;               // "sa1110", "pxa255", ... (command-line spelling)
  std::uint32_t part_number;      // IDCODE bits 12..27
  std::uint32_t manufacturer;     // IDCODE bits 1..11
  std::uint32_t default_version;  // IDCODE bits 28..31 of the default stepping
  std::uint32_t ir_length;
  std::uint32_t idcode_instruction;
  std::uint32_t sample_preload;
  std::uint32_t boundary_length;
  std::uint32_t gpio_count;  // general-purpose pins in the pin model
};
const CpuModelInfo& cpu_model_info(CpuModel model);
// By command-line name ("pxa270"); nullptr when unknown.
const CpuModelInfo* find_cpu_model(std::string_view name);
// "sa1110, pxa255, pxa270, pxa320, pxa300, pxa310"
std::string cpu_model_names();
// The IDCODE of a model with the given version field and manufacturer code.
std::uint32_t make_idcode(std::uint32_t version, std::uint32_t part, std::uint32_t manufacturer);

class Pxa : private BoundaryHooks {
 public:
  explicit Pxa(CpuModel model);
  // A different IDCODE (other stepping, other manufacturer code, or a broken one).
  Pxa(CpuModel model, std::uint32_t idcode);
  Pxa(const Pxa&) = delete;
  Pxa& operator=(const Pxa&) = delete;

  const CpuModelInfo& info() const { return *info_; }
  Tap& tap() { return tap_; }
  const Tap& tap() const { return tap_; }

  // Devices on the bus; they stay owned by the caller and must outlive their attachment.
  void attach(BusDevice* device);
  void detach(BusDevice* device);

  // JTAG pins as a cable drives them. Without power the processor sees none of them and its TDO
  // reads low (an unpowered chip's pins are clamped towards ground).
  void set_jtag_pins(bool tck, bool tms, bool tdi) {
    tck_pin_ = tck;
    if (powered_) tap_.set_pins(tck, tms, tdi);
  }
  bool tdo() const { return powered_ && tap_.tdo(); }
  // The reset lines' levels as the cable drives them (true = asserted).
  void set_trst(bool asserted);
  bool trst() const { return trst_; }
  void set_srst(bool asserted) { srst_ = asserted; }
  bool srst() const { return srst_; }
  // Module power. Switching it on starts the TAP as at power-up (Test-Logic-Reset, IDCODE) with
  // the pins released; the flash keeps its contents.
  void set_powered(bool on);
  bool powered() const { return powered_; }
  // The debug register asks the core to stay in reset (bit 1 of the value of instruction 9).
  bool core_held_in_reset() const { return (tap_.debug_register() & 2) != 0; }

  // Pins as they are now (all released unless EXTEST drives them).
  const StaticBus& static_bus() const { return bus_; }
  const NandPort& nand_port() const { return nand_; }
  bool extest_active() const { return extest_; }
  // General-purpose pin p: whether the processor drives it and its level (pull-up 1 if not).
  bool gpio_driven(std::uint32_t p) const;
  bool gpio_level(std::uint32_t p) const;
  // The update latch of a cell (what the last Update-DR loaded), for tests.
  bool cell(std::uint32_t n) const { return n < latches_.size() && latches_[n] != 0; }

 private:
  void boundary_capture(std::uint8_t* cells, std::uint32_t count) override;
  void boundary_update(const std::uint8_t* cells, std::uint32_t count) override;
  void instruction_changed(std::uint32_t instruction) override;
  void drive_pins();

  bool pin_driven(const pins::Pin& pin) const;
  bool cells_drive(std::uint16_t out, std::uint16_t oe, bool oe_active_low) const {
    if (!extest_ || out == pins::no_cell) return false;
    if (oe == pins::no_cell) return true;
    return (latches_[oe] != 0) != oe_active_low;
  }

  // Precomputed from the pin model, so that an update or capture touches only the pins that
  // matter, through flat tables. A bus route is one function of a driving pin (address, data,
  // chip select or control line), in pin order; an input route is one pin with an input cell.
  struct BusRoute {
    std::uint16_t out, oe;
    bool oe_active_low;
    std::uint16_t function;
    std::uint32_t mask;  // the function's bit in the address, data or chip-select word
  };
  struct InputRoute {
    std::uint16_t in, out, oe;
    bool oe_active_low;
    bool ready;          // the NAND ready/busy input
    std::uint32_t data;  // the data line's bit, 0 if none
  };
  std::vector<BusRoute> bus_routes_;
  std::vector<InputRoute> input_routes_;

  const CpuModelInfo* info_;
  std::vector<pins::Pin> pins_;
  std::vector<std::int16_t> pin_data_line_;  // per pin: its data line D0..D31, or -1
  std::vector<std::int16_t> gpio_pin_;       // per GPIO position: index into pins_, or -1
  bool has_nand_port_ = false;
  Tap tap_;
  std::vector<BusDevice*> devices_;
  std::vector<std::uint8_t> latches_;
  bool extest_ = false;
  bool srst_ = false;
  bool trst_ = false;
  bool powered_ = true;
  bool tck_pin_ = false;
  StaticBus bus_;
  NandPort nand_;
};

}  // namespace dz::sim
