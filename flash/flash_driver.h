#pragma once
// Flash drivers behind the JTAG download interface: one record of operations per flash kind, in
// probe order ("NAND Flash" first, "Strata Flash" second).
#include <cstdint>

namespace dz {

struct FlashDriver {
  char name[32];
  int (*probe)();
  int (*prepare)();
  int (*erase)(std::uint32_t start, std::uint32_t length);
  int (*write)(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
  int (*verify)(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
  int (*finish)();
  std::uint32_t (*first_block_span)();  // may be empty
};

inline constexpr std::uint32_t flash_driver_count = 2;
extern const FlashDriver flash_drivers[flash_driver_count];

// Index of the driver that answered the last probe; flash_driver_count after all failed.
extern std::uint32_t current_flash_driver;

// Probes the drivers in table order; 1 when one answered (it becomes current), else 0.
int flash_probe_all();

}  // namespace dz
