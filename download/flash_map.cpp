// The Download dialog's flash map.
#include "download/flash_map.h"

#include <algorithm>

#include "resources/resource.h"

namespace dz {

std::array<std::uint8_t, flash_map_cells> flash_map{};
std::uint32_t map_base = 0;
std::uint64_t map_span = 0;
std::uint32_t map_cell_size = 0;

void flash_map_build(std::uint32_t start, std::uint32_t length) {
  flash_map.fill(0);
  map_base = start & 0xFFFF0000u;
  // 64-bit, so that an image reaching the top of the address space does not wrap to a span of 0.
  map_span = ((std::uint64_t{start} & 0xFFFF) + length + 0xFFFF) & ~std::uint64_t{0xFFFF};
  map_cell_size = static_cast<std::uint32_t>(map_span >> 9);
}

void flash_map_mark(std::uint32_t address, std::uint32_t length, std::uint8_t bit) {
  if (map_cell_size == 0 || length == 0) return;
  const std::uint64_t offset = static_cast<std::uint32_t>(address - map_base);
  const std::uint64_t first = offset / map_cell_size;
  if (first >= flash_map_cells) return;
  const std::uint64_t last =
      std::min<std::uint64_t>((offset + length - 1) / map_cell_size, flash_map_cells - 1);
  for (std::uint64_t cell = first; cell <= last; ++cell) flash_map[cell] |= bit;
}

void flash_map_paint(ui::Window dlg) {
  ui::paint_flash_map(dlg, IDC_FLASH_MAP, flash_map);
}

}  // namespace dz
