// Word-wise computation of the page code. A chunk is read as 64 little-endian 64-bit words, so
// that bit b of word m has chunk bit address 64m + b. The even-addressed bits (b even) form the
// block E with addresses 32m + b/2, the odd ones the block O with addresses 32m + (b-1)/2. The
// XOR of the addresses of the 1-bits of a block splits into a row part (the word numbers m of
// words whose bits of that parity have odd parity) and a column part (the bit numbers whose
// column, over the XOR of all words, has odd parity); both are parities of masked XOR sums.
#include "flash/nand_ecc.h"

#include <bit>
#include <cstring>

namespace dz {

namespace {

constexpr std::uint64_t even_bits = 0x5555555555555555ull;
constexpr std::uint64_t odd_bits = 0xAAAAAAAAAAAAAAAAull;
// Bit j+1 of the bit number b (b = 2c or 2c + 1, so bit j of c) is set for the columns in mask j.
constexpr std::uint64_t column_masks[5] = {0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                           0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull,
                                           0xFFFFFFFF00000000ull};

inline std::uint32_t parity(std::uint64_t v) {
  return std::popcount(v) & 1u;
}

inline std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The 22-bit code from the 11-bit address XOR and the parity of the block.
inline std::uint32_t finish22(std::uint32_t upper, std::uint32_t odd) {
  return (upper << 11) | (odd ? (upper ^ 0x7FFu) : upper);
}

// Codes of the even and odd halves of a chunk at once.
void chunk_codes(const std::uint8_t* chunk, std::uint32_t& ce, std::uint32_t& co) {
  std::uint64_t all = 0;
  std::uint64_t rows[6] = {};  // XOR of the words whose number m has bit j set
  for (std::uint32_t m = 0; m < 64; ++m) {
    const std::uint64_t w = load64(chunk + 8 * m);
    all ^= w;
    rows[0] ^= (m & 1) ? w : 0;
    rows[1] ^= (m & 2) ? w : 0;
    rows[2] ^= (m & 4) ? w : 0;
    rows[3] ^= (m & 8) ? w : 0;
    rows[4] ^= (m & 16) ? w : 0;
    rows[5] ^= (m & 32) ? w : 0;
  }
  std::uint32_t row_e = 0, row_o = 0, col_e = 0, col_o = 0;
  for (int j = 0; j < 6; ++j) {
    row_e |= parity(rows[j] & even_bits) << j;
    row_o |= parity(rows[j] & odd_bits) << j;
  }
  for (int j = 0; j < 5; ++j) {
    col_e |= parity(all & even_bits & column_masks[j]) << j;
    col_o |= parity(all & odd_bits & column_masks[j]) << j;
  }
  ce = finish22((row_e << 5) | col_e, parity(all & even_bits));
  co = finish22((row_o << 5) | col_o, parity(all & odd_bits));
}

// Spreads the low 32 bits of x to the even bit positions of a 64-bit value.
inline std::uint64_t spread(std::uint64_t x) {
  x &= 0xFFFFFFFFull;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  x = (x | (x << 8)) & 0x00FF00FF00FF00FFull;
  x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0Full;
  x = (x | (x << 2)) & 0x3333333333333333ull;
  x = (x | (x << 1)) & 0x5555555555555555ull;
  return x;
}

}  // namespace

std::uint32_t ecc22(const std::uint8_t* block) {
  std::uint64_t all = 0;
  std::uint64_t rows[5] = {};
  for (std::uint32_t m = 0; m < 32; ++m) {
    const std::uint64_t w = load64(block + 8 * m);
    all ^= w;
    for (int j = 0; j < 5; ++j) rows[j] ^= ((m >> j) & 1) ? w : 0;
  }
  // Bit address 64m + b: the upper 5 bits are m, the lower 6 bits are b.
  std::uint32_t row = 0, col = 0;
  for (int j = 0; j < 5; ++j) row |= parity(rows[j]) << j;
  col |= parity(all & 0xAAAAAAAAAAAAAAAAull);
  for (int j = 0; j < 5; ++j) col |= parity(all & column_masks[j]) << (j + 1);
  return finish22((row << 6) | col, parity(all));
}

void nand_chunk_ecc(const std::uint8_t* chunk, std::uint8_t* code) {
  std::uint32_t ce = 0, co = 0;
  chunk_codes(chunk, ce, co);
  // Word k interleaves byte k of both codes: bit 2m from CE, bit 2m + 1 from CO.
  const std::uint64_t words = spread(ce) | (spread(co) << 1);
  for (int i = 0; i < 6; ++i) code[i] = static_cast<std::uint8_t>(words >> (8 * i));
}

void nand_page_ecc(const std::uint8_t* page, std::uint8_t* code) {
  for (int c = 0; c < 4; ++c) nand_chunk_ecc(page + 512 * c, code + 6 * c);
}

void nand_no_ecc(const std::uint8_t*, std::uint8_t*) {}

}  // namespace dz
