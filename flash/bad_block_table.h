#pragma once
// The NAND bad block table kept in the last page of block 0: signature 0x524E, entry count, and
// up to 512 entries (bad block, replacement block) pointing into a reserve of the last 2 % of
// the blocks.
#include <cstdint>

namespace dz {

inline constexpr std::uint32_t bbt_image_size = 2052;
inline constexpr std::uint32_t bbt_max_entries = 512;
inline constexpr std::uint16_t bbt_signature = 0x524E;

extern std::uint8_t nand_bbt[bbt_image_size];

int nand_block_good(std::uint32_t block);
int bbt_replacement_free(std::uint32_t block);
void bbt_build_from_marks();
// The step before an erase that touches block 0: reads the table; on a bad signature asks whether
// to build it from the factory marks. Returns 1 when the table is valid afterwards.
int bbt_check_before_erase();
// The step after block 0 was erased: writes the table (or an empty one) back.
void bbt_rewrite_after_erase(int table_valid);
void bbt_dump();

// Fields of the image.
std::uint32_t bbt_count();
std::uint32_t bbt_bad_block(std::uint32_t entry);
std::uint32_t bbt_replacement(std::uint32_t entry);
// Entries the table page can hold: 511 on 2048-byte pages, 127 on 512-byte pages.
std::uint32_t bbt_capacity();

}  // namespace dz
