#pragma once
// The page code computed bit by bit, straight from its definition, to check the word-wise one.
#include <cstdint>

namespace dz::testing {

inline std::uint32_t ecc22_reference(const std::uint8_t* block) {
  std::uint32_t c = 0;
  for (std::uint32_t a = 0; a < 2048; ++a)
    if ((block[a / 8] >> (a % 8)) & 1) c ^= (a << 11) | (a ^ 0x7FF);
  return c;
}

inline void chunk_ecc_reference(const std::uint8_t* chunk, std::uint8_t* code) {
  std::uint8_t even[256] = {}, odd[256] = {};
  for (std::uint32_t k = 0; k < 2048; ++k) {
    const std::uint32_t e = 2 * k, o = 2 * k + 1;
    if ((chunk[e / 8] >> (e % 8)) & 1) even[k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
    if ((chunk[o / 8] >> (o % 8)) & 1) odd[k / 8] |= static_cast<std::uint8_t>(1u << (k % 8));
  }
  const std::uint32_t ce = ecc22_reference(even), co = ecc22_reference(odd);
  for (int k = 0; k < 3; ++k) {
    const std::uint32_t be = (ce >> (8 * k)) & 0xFF, bo = (co >> (8 * k)) & 0xFF;
    std::uint32_t word = 0;
    for (int m = 0; m < 8; ++m) {
      word |= ((be >> m) & 1) << (2 * m);
      word |= ((bo >> m) & 1) << (2 * m + 1);
    }
    code[2 * k] = static_cast<std::uint8_t>(word);
    code[2 * k + 1] = static_cast<std::uint8_t>(word >> 8);
  }
}

inline void page_ecc_reference(const std::uint8_t* page, std::uint8_t* code) {
  for (int c = 0; c < 4; ++c) chunk_ecc_reference(page + 512 * c, code + 6 * c);
}

}  // namespace dz::testing
