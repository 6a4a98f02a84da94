#pragma once
// The flash map of the Download dialog: the image's address range, rounded out to 64 KiB, in 512
// cells (16 columns by 32 rows), each holding what has happened to the bytes it covers.
#include <array>
#include <cstdint>

#include "platform/ui.h"

namespace dz {

inline constexpr int flash_map_cells = 512;
inline constexpr std::uint8_t map_in_image = 0x01;
inline constexpr std::uint8_t map_written = 0x02;
inline constexpr std::uint8_t map_verified = 0x04;

// Process-wide, used by the download thread of the one running job.
extern std::array<std::uint8_t, flash_map_cells> flash_map;
extern std::uint32_t map_base;       // relocated image start AND 0xFFFF0000
extern std::uint64_t map_span;       // bytes covered: a multiple of 64 KiB
extern std::uint32_t map_cell_size;  // map_span / 512; 0 when nothing is covered

// Clears the map and sets its range: from `start` rounded down to 64 KiB to start + length
// rounded up to 64 KiB.
void flash_map_build(std::uint32_t start, std::uint32_t length);
// Sets `bit` in every cell that [address, address + length) touches. Cells outside the map and
// a map that covers nothing are left alone.
void flash_map_mark(std::uint32_t address, std::uint32_t length, std::uint8_t bit);
// Draws the map into the Download dialog's map control (1025).
void flash_map_paint(ui::Window dlg);

}  // namespace dz
