#pragma once
// The "NAND Flash" driver: NAND on the data-flash pins of a PXA320/PXA300/PXA310, one 8-bit chip
// per NAND chip select (one or two), or two 8-bit small-page chips side by side as a 16-bit bus.
// Pages are programmed with the page code in the spare area; the last page of block 0 holds the
// bad block table.
#include <cstdint>

#include "flash/flash_driver.h"

namespace dz {

struct NandGeometry {
  std::uint32_t nand_maker = 4;  // index into nand_maker_names
  std::uint32_t nand_bus_bytes = 1;
  std::uint32_t nand_large_page = 0;
  std::uint32_t nand_chip_page_size = 0;
  std::uint32_t nand_page_size = 0;
  std::uint32_t nand_spare_size = 0;
  std::uint32_t nand_block_size = 0;
  std::uint32_t nand_first_span = 0;
  std::uint32_t nand_row_bytes = 2;
  std::uint32_t nand_cs0_size = 0;
  std::uint32_t nand_cs1_size = 0;
  std::uint32_t nand_total_size = 0;
  std::uint32_t nand_erase_origin = 0;
  std::uint32_t bbt_page_write = 0;
  // Flash offsets erased by the last erase (block-aligned); writes stay inside them.
  std::uint64_t erased_start = 0;
  std::uint64_t erased_end = 0;
};
extern NandGeometry nand_geometry;
void reset_nand_state();

inline constexpr const char* nand_maker_names[5] = {"Samsung", "Hynix", "EON", "Spansion",
                                                    "Unknown"};

extern const FlashDriver nand_flash_driver;

int nand_probe();
int nand_erase(std::uint32_t start, std::uint32_t length);
int nand_write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int nand_verify(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int nand_finish();
// Asks the job to assemble the image into whole pages from its start (whole-block mode): the
// span of block 0 below the table page, for small pages as for large ones, so records that share
// a page are programmed together.
std::uint32_t nand_first_block_span();

// 1 ok (also after a bad status), 0 time-out.
int nand_block_erase(std::uint32_t offset);
// Reads `count` bus units from `offset` (the spare area when `spare` is 1) into `buffer`, which
// holds `capacity` bytes; never more than fits. Always 1.
int nand_page_read(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t offset,
                   std::uint32_t spare, std::uint32_t count);
std::uint32_t nand_block_size_at(std::uint32_t offset);

}  // namespace dz
