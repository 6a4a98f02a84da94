#include "flash/bad_block_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "flash/flash_message.h"
#include "flash/nand_flash.h"
#include "platform/debug.h"

namespace dz {

std::uint8_t nand_bbt[bbt_image_size];

namespace {

NandGeometry& g = nand_geometry;

std::uint32_t get16(std::uint32_t at) {
  return nand_bbt[at] | (nand_bbt[at + 1] << 8);
}
void put16(std::uint32_t at, std::uint32_t v) {
  nand_bbt[at] = static_cast<std::uint8_t>(v);
  nand_bbt[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void read_table_page() {
  nand_page_read(nand_bbt, bbt_image_size, g.nand_first_span, 0, g.nand_chip_page_size);
}

bool signature_ok() {
  return get16(0) == bbt_signature;
}

void start_empty_table(std::uint32_t bytes) {
  std::memset(nand_bbt, 0xFF, std::min(bytes, bbt_image_size));
  put16(0, bbt_signature);
  put16(2, 0);
}

// Appends an entry; false when the table page has no room for it.
bool append(std::uint32_t bad, std::uint32_t replacement) {
  const std::uint32_t n = bbt_count();
  if (n >= bbt_capacity()) return false;
  put16(4 + 4 * n, bad);
  put16(6 + 4 * n, replacement);
  put16(2, n + 1);
  return true;
}

}  // namespace

std::uint32_t bbt_count() {
  return get16(2);
}
std::uint32_t bbt_bad_block(std::uint32_t entry) {
  return get16(4 + 4 * entry);
}
std::uint32_t bbt_replacement(std::uint32_t entry) {
  return get16(6 + 4 * entry);
}
std::uint32_t bbt_capacity() {
  if (g.nand_chip_page_size < 8) return 0;
  return std::min(bbt_max_entries, (std::min(g.nand_chip_page_size, bbt_image_size) - 4) / 4);
}

int nand_block_good(std::uint32_t b) {
  const std::uint64_t base = std::uint64_t{b} * g.nand_block_size;
  const std::uint64_t pages[3] = {base, base + g.nand_page_size,
                                  base + g.nand_block_size - g.nand_page_size};
  // The factory mark: first spare byte of a large page, sixth spare byte of a small page.
  for (std::uint64_t page : pages) {
    const bool word_lanes = g.nand_bus_bytes == 2 && page >= 0x4000;
    const std::uint32_t column = g.nand_large_page ? 0 : (word_lanes ? 10 : 5);
    if (page + column >= g.nand_total_size) return 0;
    std::uint8_t unit[2] = {0xFF, 0xFF};
    nand_page_read(unit, sizeof unit, static_cast<std::uint32_t>(page + column), 1, 1);
    if (unit[0] != 0xFF) return 0;
  }
  return 1;
}

int bbt_replacement_free(std::uint32_t b) {
  const std::uint32_t n = std::min(bbt_count(), bbt_capacity());
  for (std::uint32_t i = 0; i < n; ++i)
    if (bbt_replacement(i) == b) return 0;
  return 1;
}

void bbt_build_from_marks() {
  read_table_page();
  if (signature_ok()) return;
  start_empty_table(bbt_image_size);
  if (g.nand_block_size == 0) return;
  const std::uint32_t blocks = g.nand_total_size / g.nand_block_size;
  const std::uint32_t reserve_start = blocks - 2 * blocks / 100;
  for (std::uint32_t b = reserve_start; b < blocks; ++b) {
    if (nand_block_good(b)) continue;
    if (!append(0, b)) break;
    debug_info("Found BAD Block(%d) in the ReplacementBlocks Area", int(b));
  }
  // Replacements come from the reserve only, from its top down; never from the data area.
  std::uint32_t next = blocks;  // one above the next candidate
  for (std::uint32_t b = 0; b < reserve_start; ++b) {
    if (nand_block_good(b)) continue;
    while (next > reserve_start && !bbt_replacement_free(next - 1)) --next;
    if (next <= reserve_start) {
      debug_info("No replacement block left for BAD Block(%d)", int(b));
      continue;
    }
    if (!append(b, next - 1)) {
      debug_info("Bad block table full at BAD Block(%d)", int(b));
      break;
    }
    --next;
    debug_info("Found BAD Block(%d) in the Data Area", int(b));
  }
  if (bbt_count() > 0) debug_info("Total BAD Blocks: %d", int(bbt_count()));
}

int bbt_check_before_erase() {
  read_table_page();
  if (signature_ok()) return 1;
  if (flash_ask("BadBlock Table missing or corrupt. Yes: Use manufacturing info, No: build empty "
                "table.",
                "Warning")) {
    bbt_build_from_marks();
    return 1;
  }
  return 0;
}

void bbt_rewrite_after_erase(int table_valid) {
  if (!table_valid) start_empty_table(g.nand_page_size);
  g.bbt_page_write = 1;
  nand_write(nand_bbt, g.nand_first_span, std::min(g.nand_chip_page_size, bbt_image_size));
  g.bbt_page_write = 0;
}

void bbt_dump() {
  read_table_page();
  if (!signature_ok()) {
    char question[160];
    std::snprintf(question, sizeof question,
                  "Found signature 0x%04x, expected signature 0x524E.\r\nDo you want to rebuild "
                  "the badblock table from manufacturer information?",
                  unsigned(get16(0)));
    if (!flash_ask(question, "Error in Bad Block Table")) return;
    bbt_build_from_marks();
  }
  std::string text;
  char line[64];
  std::snprintf(line, sizeof line, "%d Bad Blocks\r\n", int(bbt_count()));
  text += line;
  const std::uint32_t n = std::min(bbt_count(), bbt_capacity());
  for (std::uint32_t i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "0x%04x -> 0x%04x\r\n", unsigned(bbt_bad_block(i)),
                  unsigned(bbt_replacement(i)));
    text += line;
  }
  flash_show(text, "Bad Block Table");
}

}  // namespace dz
