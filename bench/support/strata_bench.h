#pragma once
// What the StrataFlash benchmarks share: the 256 KiB sample bootloader and a module probed over
// JTAG the way a job's open does it.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "flash/strata_flash.h"
#include "jtag/cable.h"
#include "tests/image/image_builder.h"

namespace dz::bench {

// One record of random bytes filling 256 KiB at 0x80000000, written to eboot.bin in a scratch
// folder that lives as long as this.
struct SampleBootloader {
  SampleBootloader() {
    std::mt19937 rng(2);
    data = testing::random_bytes(rng, length);
    path = dir.write("eboot.bin", testing::make_image(start, length, {{start, data}}));
  }
  testing::TempDir dir;
  std::uint32_t start = 0x80000000;
  std::uint32_t length = 0x40000;
  std::vector<std::uint8_t> data;
  std::string path;
};

// Opens the cable to the installed module, identifies the processor and probes its StrataFlash.
inline void probe_strata_over_jtag() {
  jtag_open_cable();
  jtag_reset_tap(1);
  cpu_identify();
  bs_start();
  reset_strata_state();
  strata_probe();
}

}  // namespace dz::bench
