// The options that the main window owns and the download job reads, with their defaults.
#include "download/options.h"

#include "state/process_state.h"

namespace dz {

std::atomic<int> verify_after_write{0};
std::atomic<int> fix_ip{0};
std::atomic<std::uint32_t> fixed_ip{0xC0A80001};
std::atomic<std::uint32_t> fixed_subnet{0xFFFFFF00};
std::atomic<int> fast_boot{0};
std::atomic<int> rom_offset_enable{0};
std::atomic<std::uint32_t> rom_offset{0xF2020000};

void reset_options_state() {
  verify_after_write = 0;
  fix_ip = 0;
  fixed_ip = 0xC0A80001;
  fixed_subnet = 0xFFFFFF00;
  fast_boot = 0;
  rom_offset_enable = 0;
  rom_offset = 0xF2020000;
  test_mode_flag = 0;
}

}  // namespace dz
