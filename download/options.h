#pragma once
// Options that the main window owns and the download job reads.
#include <atomic>
#include <cstdint>

namespace dz {

// Defaults of the stored options: what a fresh start and a missing stored value give.
inline constexpr std::uint32_t default_fixed_ip = 0xC0A80001;  // first octet high
inline constexpr std::uint32_t default_fixed_subnet = 0xFFFFFF00;
inline constexpr std::uint32_t default_rom_offset = 0xF2020000;

extern std::atomic<int> verify_after_write;  // Verify check box, copied at download start
extern std::atomic<int> fix_ip;              // "Program Fix IP and SubnetMask"
extern std::atomic<std::uint32_t> fixed_ip;
extern std::atomic<std::uint32_t> fixed_subnet;
extern std::atomic<int> fast_boot;          // stored and shown only
extern std::atomic<int> rom_offset_enable;  // "Offset IMAGE"
extern std::atomic<std::uint32_t> rom_offset;

// Puts every option back to its default (between tests).
void reset_options_state();

}  // namespace dz
