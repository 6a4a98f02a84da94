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
  std::uint32_t strata_family = 0;              // index into strata_families
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

// One StrataFlash family as the probe and the block layout treat it. Every family sizes chip
// select 0 from the CFI device size (doubled on a 32-bit bus), and every chip's CFI buffer size
// bounds the 32-word default write buffer.
struct StrataFamily {
  const char* name;               // shown in the target description
  bool bottom_parameters;         // the lowest main block of each chip is four parameter blocks
  bool large_buffer_by_cfi_0x1f;  // CFI word 0x1F reading 9 raises the buffer to 512 words first
};

// Indexed by strata_family; the probe assigns only J3, K3, P30(B) and P33(B).
inline constexpr StrataFamily strata_families[6] = {
    {.name = "J3", .bottom_parameters = false, .large_buffer_by_cfi_0x1f = false},
    {.name = "K3", .bottom_parameters = false, .large_buffer_by_cfi_0x1f = false},
    {.name = "P30(B)", .bottom_parameters = true, .large_buffer_by_cfi_0x1f = true},
    {.name = "P30(T)", .bottom_parameters = false, .large_buffer_by_cfi_0x1f = false},
    {.name = "P33(B)", .bottom_parameters = true, .large_buffer_by_cfi_0x1f = false},
    {.name = "P33(T)", .bottom_parameters = false, .large_buffer_by_cfi_0x1f = false},
};

// One known device code (low 16 bits of word 1 in identifier mode) and its family.
struct StrataDevice {
  std::uint16_t id;
  std::uint8_t family;  // index into strata_families
};

inline constexpr StrataDevice strata_devices[] = {
    {0x0017, 0}, {0x0018, 0}, {0x0019, 0},               // J3
    {0x8801, 1}, {0x8802, 1}, {0x8803, 1},               // K3
    {0x881A, 2}, {0x881B, 2}, {0x891C, 2}, {0x8922, 2},  // P30(B)
    {0x8820, 4}, {0x8821, 4},                            // P33(B)
};

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
