#pragma once
// What the simulated processor's pins show to the chips on its bus, and what the chips drive back.
// The processor model calls every attached device after each Update-DR with the new pin levels,
// and asks them at each Capture-DR what they drive on the data lines. A line that nobody drives
// reads as the bus's pull-up (1).
#include <cstdint>

namespace dz::sim {

// Static-memory bus pin levels after an Update-DR.
struct StaticBus {
  std::uint32_t address = 0;  // A0..A25 (lines the processor does not drive read 1)
  std::uint8_t ncs = 0x3F;    // bit k = level of nCSk (0 = selected)
  bool noe = true, nwe = true, rd_nwr = true;
  std::uint32_t data = 0xFFFFFFFF;  // D0..D31 as driven by the processor
  std::uint32_t data_driven = 0;    // mask of the data lines the processor drives
};

// NAND port pin levels after an Update-DR (PXA3xx data-flash interface).
struct NandPort {
  bool ncs0 = true, ncs1 = true;
  bool cle = false, ale = false;
  bool nwe = true, nre = true;
  std::uint16_t data = 0xFFFF;  // D0..D15 as driven by the processor
  std::uint16_t data_driven = 0;
};

class BusDevice {
 public:
  virtual ~BusDevice() = default;
  virtual void static_bus(const StaticBus&) {}
  virtual void nand_port(const NandPort&) {}
  // The value the device drives on D0..D31 now, with the mask of the lines it drives.
  virtual std::uint32_t drive_data(std::uint32_t& mask) const {
    mask = 0;
    return 0;
  }
  // The NAND ready/busy output: false while the device pulls it low (busy).
  virtual bool ready() const { return true; }
};

}  // namespace dz::sim
