#pragma once
// The "Strata Flash" driver: Intel StrataFlash (J3, K3, P30, P33) on chip select 0 and optionally
// the chip select at bus address 0x08000000 of a PXA270 module, programmed through boundary-scan
// bus cycles.
#include <cstdint>

#include "flash/flash_driver.h"

namespace dz {

// Driver state, set by the probe and read by the other operations.
struct StrataFlashState {
  std::uint32_t strata_bus_width = 4;           // bytes per bus word: 2 or 4
  std::uint32_t strata_data_mask = 0xFFFFFFFF;  // 0xFFFF or 0xFFFFFFFF
  std::uint32_t strata_buffer_words = 32;       // write buffer words per chip
  std::uint32_t strata_family = 0;              // index into strata_family_names
  std::uint32_t cs0_size = 0;
  std::uint32_t cs1_size = 0;
  std::uint32_t flash_total_size = 0;
  std::uint32_t erase_origin = 0;
  // Flash offsets erased by the last erase: writes outside [erased_begin, erased_end) are refused.
  std::uint32_t erased_begin = 0;
  std::uint32_t erased_end = 0;
};
extern StrataFlashState strata;
void reset_strata_state();

inline constexpr const char* strata_family_names[6] = {"J3",     "K3",     "P30(B)",
                                                       "P30(T)", "P33(B)", "P33(T)"};
inline constexpr std::uint32_t strata_cs1_base = 0x08000000;

extern const FlashDriver strata_flash_driver;

// Bus access: a word read (IDLE, READ, IDLE with capture) and a word write (setup, strobe).
std::uint32_t strata_read(std::uint32_t address);
void strata_write(std::uint32_t address, std::uint32_t value);

int strata_probe();
int strata_erase_block(std::uint32_t address);
int strata_erase(std::uint32_t start, std::uint32_t length);
int strata_write_buffer(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int strata_verify(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int strata_finish();

// Erase-block size at a flash offset (parameter blocks at the bottom of each chip select for
// P30(B)/P33(B)), and the bus address of a flash offset.
std::uint32_t strata_block_size(std::uint32_t offset);
std::uint32_t strata_bus_address(std::uint32_t offset);

}  // namespace dz
