#pragma once
// Processor identification and the boundary-scan map of the identified processor.
#include <cstdint>

namespace dz {

enum CpuType : std::uint32_t {
  cpu_sa1110 = 0,
  cpu_pxa255 = 1,
  cpu_pxa270 = 2,
  cpu_pxa320 = 3,
  cpu_pxa300 = 4,
  cpu_pxa310 = 5,
};

struct BsMap {
  std::uint32_t extest = 0;
  std::uint32_t sample_preload = 0;
  std::uint32_t bs_length = 0;
  std::uint32_t data_in[32] = {};
  std::uint32_t data_out[32] = {};
  std::uint32_t data_oe[16] = {};      // data output-enable cells; the static bus uses the first two
  std::uint32_t data_oe_read = 0;      // output-enable value while reading (bus released)
  std::uint32_t data_oe_write = 0;     // ... while writing (bus driven)
  std::uint32_t address[26] = {};
  std::uint32_t cs[6] = {};
  std::uint32_t cs_pattern_count = 64;
  std::uint8_t cs_pattern[64] = {};
  std::uint32_t n_oe = 0, n_we = 0, rd_nwr = 0;
  std::uint32_t ready = 0;
  std::uint32_t nand_cs0 = 0, nand_cs1 = 0, nand_we = 0, nand_re = 0, cle = 0, ale = 0;
  std::uint32_t pin_count = 0;
  std::uint32_t pin_out[152] = {};
  std::uint32_t pin_oe[152] = {};
};

extern std::uint32_t cpu_type;
extern BsMap bs_map;
extern std::uint32_t bs_out[18];  // 576-bit output image
extern std::uint32_t bs_in[24];   // 768-bit captured image

// Reads the IDCODE, recognises the processor and its stepping, appends the description and fills
// bs_map and bs_out. 1 = supported processor, 0 = not.
std::uint32_t cpu_identify();

}  // namespace dz
