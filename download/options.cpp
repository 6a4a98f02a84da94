// The options that the main window owns and the download job reads, with their defaults.
#include "download/options.h"

#include "state/process_state.h"

namespace dz {

std::atomic<int> verify_after_write{0};
std::atomic<int> fix_ip{0};
std::atomic<std::uint32_t> fixed_ip{default_fixed_ip};
std::atomic<std::uint32_t> fixed_subnet{default_fixed_subnet};
std::atomic<int> fast_boot{0};
std::atomic<int> rom_offset_enable{0};
std::atomic<std::uint32_t> rom_offset{default_rom_offset};

void reset_options_state() {
  verify_after_write = 0;
  fix_ip = 0;
  fixed_ip = default_fixed_ip;
  fixed_subnet = default_fixed_subnet;
  fast_boot = 0;
  rom_offset_enable = 0;
  rom_offset = default_rom_offset;
  test_mode_flag = 0;
}

}  // namespace dz
