#pragma once
// Options that the main window owns and the download job reads.
#include <atomic>
#include <cstdint>

namespace dz {

extern std::atomic<int> verify_after_write;      // Verify check box, copied at download start
extern std::atomic<int> fix_ip;                  // "Program Fix IP and SubnetMask"
extern std::atomic<std::uint32_t> fixed_ip;      // default 0xC0A80001, first octet high
extern std::atomic<std::uint32_t> fixed_subnet;  // default 0xFFFFFF00
extern std::atomic<int> fast_boot;               // stored and shown only
extern std::atomic<int> rom_offset_enable;       // "Offset IMAGE"
extern std::atomic<std::uint32_t> rom_offset;    // default 0xF2020000

// Puts every option back to its default (between tests).
void reset_options_state();

}  // namespace dz
