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
  std::uint32_t nand_first_span = 0;  // chip offset of the table page: block 0 less one page
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

// Maker flags: the fifth ID byte gives the chip size; the 4-Gbit device 0xDC is one chip on
// chip select 0 (other makers' are two 2-Gbit dies, one per chip select).
enum NandMakerFlag : std::uint8_t { nand_size_in_id = 1, nand_single_die_dc = 2 };

struct NandMaker {
  std::uint8_t id;     // low byte of the first ID value
  std::uint8_t index;  // into nand_maker_names
  std::uint8_t flags;  // NandMakerFlag
};

// Makers that are known by name; any other (but 0x00 and 0xFF: nobody answers) is "Unknown".
inline constexpr NandMaker nand_makers[] = {
    {0xEC, 0, nand_size_in_id | nand_single_die_dc},  // Samsung
    {0xAD, 1, 0},                                     // Hynix
    {0x92, 2, nand_size_in_id},                       // EON
    {0x01, 3, nand_size_in_id},                       // Spansion
};
inline constexpr NandMaker nand_unknown_maker{0, 4, 0};

// Device flags: large pages (page and block size from the fourth ID byte, 64 spare bytes);
// two dies, each `chip_size` bytes, on chip selects 0 and 1 unless the maker says one die.
enum NandDeviceFlag : std::uint8_t { nand_large = 1, nand_dual_die = 2 };

struct NandDevice {
  std::uint8_t id;          // low byte of the second ID value
  std::uint8_t flags;       // NandDeviceFlag
  std::uint8_t row_bytes;   // row address bytes
  std::uint32_t chip_size;  // small pages: the chip; dual die: each die; else from the ID
};

inline constexpr NandDevice nand_devices[] = {
    {0x75, 0, 2, 0x2000000},                            // 256 Mbit, small pages
    {0x76, 0, 3, 0x4000000},                            // 512 Mbit, small pages
    {0xF1, nand_large, 2, 0},                           // 1 Gbit
    {0xD3, nand_large, 3, 0},                           // 8 Gbit
    {0xDA, nand_large, 3, 0},                           // 2 Gbit
    {0xDC, nand_large | nand_dual_die, 3, 0x20000000},  // 4 Gbit
};

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
