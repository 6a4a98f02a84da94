// NAND flash through boundary-scan NAND cycles. A bus unit is one byte on an 8-bit bus (low lane)
// or one little-endian 16-bit word of two chips side by side; commands and address bytes carry
// their byte in both lanes.
#include "flash/nand_flash.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "download/interface.h"
#include "flash/bad_block_table.h"
#include "flash/flash_message.h"
#include "flash/nand_ecc.h"

namespace dz {

NandGeometry nand_geometry;

void reset_nand_state() {
  nand_geometry = NandGeometry{};
  nand_cs1_start = 0xFFFFFFFF;
}

namespace {

// NAND commands (each sent in both lanes).
constexpr std::uint32_t cmd_read_id = 0x90;
constexpr std::uint32_t cmd_read = 0x00;              // also the data-area pointer (small pages)
constexpr std::uint32_t cmd_read_second_half = 0x01;  // small pages: from byte 256
constexpr std::uint32_t cmd_read_spare = 0x50;        // small pages: the spare area
constexpr std::uint32_t cmd_read_confirm = 0x30;      // large pages
constexpr std::uint32_t cmd_program = 0x80;
constexpr std::uint32_t cmd_program_confirm = 0x10;
constexpr std::uint32_t cmd_erase = 0x60;
constexpr std::uint32_t cmd_erase_confirm = 0xD0;
constexpr std::uint32_t cmd_read_status = 0x70;

constexpr std::uint32_t image_address_base = 0x4C000000;
constexpr std::uint32_t large_unit = 2048;
constexpr std::uint32_t small_unit = 512;
constexpr std::uint32_t small_block0_end = 0x4000;  // block 0 of a small-page bus, byte-wide
constexpr std::uint32_t small_skip_end = 0x8000;    // then skipped on a 16-bit bus

NandGeometry& g = nand_geometry;

void command(std::uint32_t byte) {
  nand_cycle(byte * 0x101, nand_command);
}
void address(std::uint32_t byte) {
  nand_cycle((byte & 0xFF) * 0x101, nand_address);
}

void send_row(std::uint32_t row) {
  address(row & 0xFF);
  if (g.nand_row_bytes > 1) address((row >> 8) & 0xFF);
  if (g.nand_row_bytes > 2) address((row >> 16) & 0xFF);
}

// A chip on chip select 1 counts its rows from its own start: the row bits above the chip's
// last page must be 0.
std::uint32_t chip_offset(std::uint32_t a) {
  return a >= nand_cs1_start ? a - nand_cs1_start : a;
}

std::uint32_t row_of(std::uint32_t a) {
  return chip_offset(a) >> (g.nand_large_page ? 11 : 9);
}

// Column and row bytes for a page access at bus offset `a`.
void send_address(std::uint32_t a, std::uint32_t spare) {
  address(a & 0xFF);
  if (g.nand_large_page) address((spare * 8) | ((a >> 8) & 7));
  send_row(row_of(a));
}

// How the bytes at a (mapped) byte offset travel: the program unit, the lane width, or skipped.
struct Lane {
  std::uint32_t unit = 0;
  std::uint32_t width = 1;
  bool skip = false;
};

Lane lane_at(std::uint64_t a) {
  if (g.nand_large_page) return {large_unit, g.nand_bus_bytes, false};
  if (a < small_block0_end) return {small_unit, 1, false};
  if (g.nand_bus_bytes == 2 && a < small_skip_end) return {0, 2, true};
  return {small_unit * g.nand_bus_bytes, g.nand_bus_bytes, false};
}

std::uint32_t bus_offset(std::uint64_t a, std::uint32_t width) {
  return static_cast<std::uint32_t>(width == 2 ? a / 2 : a);
}

// One read sequence: `count` units from bus offset `a`, stored while they fit in `out`.
void read_units(std::uint32_t a, std::uint32_t spare, std::uint32_t count, std::uint32_t width,
                std::uint8_t* out, std::uint32_t capacity) {
  nand_cycle(a, nand_select);
  if (g.nand_large_page)
    command(cmd_read);
  else if (spare)
    command(cmd_read_spare);  // small pages: the spare area has its own pointer command
  else
    command((a & 0x100) ? cmd_read_second_half : cmd_read);
  send_address(a, spare);
  if (g.nand_large_page) command(cmd_read_confirm);
  bs_wait_ready();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t v = nand_cycle(0, nand_read);
    for (std::uint32_t k = 0; k < width; ++k)
      if (i * width + k < capacity) out[i * width + k] = static_cast<std::uint8_t>(v >> (8 * k));
  }
  nand_cycle(0, nand_deselect);
}

// Programs one whole unit (U bytes at byte offset `a`, unit-aligned) with its code in the spare.
int program_unit(const std::uint8_t* data, std::uint64_t a, const Lane& lane) {
  const std::uint32_t w = lane.width;
  const std::uint32_t bus_a = bus_offset(a, w);
  const std::uint32_t status_mask = w == 2 ? 0x101 : 1;
  nand_cycle(bus_a, nand_select);
  if (!g.nand_large_page) command(cmd_read);  // the data area, whatever pointer a read left
  command(cmd_program);
  send_address(bus_a, 0);

  std::array<std::uint8_t, 64> spare;
  spare.fill(0xFF);
  if (g.nand_large_page)
    nand_page_ecc(data, spare.data() + 40);
  else if (w == 1)
    nand_chunk_ecc(data, spare.data() + 8);
  else
    nand_no_ecc(data, spare.data());

  // Byte-wide on a 16-bit bus the high chip takes the same page program: it gets 0xFF, which
  // leaves its page (and its factory bad-block mark) as it is.
  const std::uint32_t idle_lane = w == 1 && g.nand_bus_bytes == 2 ? 0xFF00 : 0;
  const std::uint32_t units = lane.unit / w;
  for (std::uint32_t i = 0; i < units; ++i) {
    const std::uint32_t v = w == 2 ? data[2 * i] | (data[2 * i + 1] << 8) : data[i] | idle_lane;
    nand_cycle(v, nand_data);
  }
  for (std::uint32_t i = 0; i < g.nand_spare_size; ++i) {
    const std::uint32_t v = w == 2 ? spare[2 * i] | (spare[2 * i + 1] << 8) : spare[i] | idle_lane;
    nand_cycle(v, nand_data);
  }
  command(cmd_program_confirm);
  if (!bs_wait_ready()) {
    nand_cycle(0, nand_deselect);
    flash_error("Timeout while waiting for PageWrite Completion");
    return 0;
  }
  command(cmd_read_status);
  const std::uint32_t s = nand_cycle(0, nand_read);
  nand_cycle(0, nand_deselect);
  if (s & status_mask) {
    flash_error("Error during BufferWrite (%x)", s);
    return 0;
  }
  return 1;
}

// A unit that the caller fills only in part is programmed whole (0xFF elsewhere), so its code
// covers the whole page; that is only sound on a page nobody programmed since the erase.
bool unit_blank(std::uint64_t a, const Lane& lane) {
  std::array<std::uint8_t, large_unit + 64> bytes;
  const std::uint32_t w = lane.width;
  const std::uint32_t bus_a = bus_offset(a, w);
  read_units(bus_a, 0, lane.unit / w, w, bytes.data(), lane.unit);
  read_units(bus_a, 1, g.nand_spare_size, w, bytes.data() + lane.unit, g.nand_spare_size * w);
  return std::all_of(bytes.begin(), bytes.begin() + lane.unit + g.nand_spare_size * w,
                     [](std::uint8_t b) { return b == 0xFF; });
}

// Image addresses count from the start of the last erase.
std::uint64_t map_image_address(std::uint32_t address) {
  return address >= image_address_base ? address - g.nand_erase_origin : address;
}

// End of the bootloader area in image offsets. Large pages: blocks 0 and 1 less the table page
// (the image moves past it, so block 1 is used whole); small pages: block 0 below the table page.
std::uint64_t bootloader_area_end() {
  return g.nand_large_page ? 2ull * g.nand_block_size - g.nand_page_size : g.nand_first_span;
}

// The last page of block 0 is kept for the bad block table: on large pages offsets from there up
// to the end of the bootloader area move up by one page.
std::uint64_t skip_table_page(std::uint64_t a) {
  if (!g.nand_large_page || g.bbt_page_write) return a;
  if (a >= g.nand_first_span && a < bootloader_area_end()) a += g.nand_page_size;
  return a;
}

// A flash offset for a message (the sums of offsets and lengths may pass 32 bits).
unsigned shown(std::uint64_t v) {
  return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(v);
}

// Why the image range [s, end) cannot be written, or nullptr. Writes into the bootloader area
// must stay inside it: on large pages anything past its end up to block 2 would land on pages
// the shift already filled; on small pages it would land on the table page.
const char* range_refusal(std::uint64_t s, std::uint64_t end, char* text, std::size_t size) {
  // Hynix and unknown makers' large-page chips (but the 4 Gbit one) give no size in their ID.
  if (g.nand_total_size == 0) {
    std::snprintf(text, size, "The size of this NAND flash is unknown: its ID bytes give none");
    return text;
  }
  if (end > g.nand_total_size) {
    std::snprintf(text, size,
                  "The image ends at NAND offset 0x%08x, beyond the end of the NAND flash "
                  "(0x%08x bytes)",
                  shown(end), unsigned(g.nand_total_size));
    return text;
  }
  const std::uint64_t area = bootloader_area_end();
  const std::uint64_t guarded = g.nand_large_page ? 2ull * g.nand_block_size : small_block0_end;
  if (s < guarded && end > area) {
    std::snprintf(text, size,
                  "The image is larger than the NAND bootloader area (it ends at 0x%08x, the "
                  "area at 0x%08x)",
                  shown(end), shown(area));
    return text;
  }
  if (!g.nand_large_page && g.nand_bus_bytes == 2 && s < small_skip_end && end > small_block0_end) {
    std::snprintf(text, size,
                  "NAND offsets 0x%08x to 0x%08x are not used on the 16-bit NAND bus; the image "
                  "starts at 0x%08x",
                  unsigned(small_block0_end), unsigned(small_skip_end - 1), shown(s));
    return text;
  }
  return nullptr;
}

// Why the unit at flash offset `p` must not be programmed now, or nullptr. Only a write needs
// the unit erased; a verify after a fresh probe reads whatever is there.
const char* unit_refusal(std::uint64_t p, bool writing) {
  if (g.bbt_page_write) return nullptr;
  if (p >= g.nand_total_size) return "beyond the end of the NAND flash";
  if (p >= g.nand_first_span && p < g.nand_first_span + g.nand_chip_page_size)
    return "the bad block table page";
  const bool erased_known = writing || g.erased_end != 0;
  if (erased_known && (p < g.erased_start || p >= g.erased_end))
    return "not erased by this download";
  return nullptr;
}

bool all_erased(const std::uint8_t* data, std::uint32_t n) {
  return std::all_of(data, data + n, [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

std::uint32_t nand_block_size_at(std::uint32_t) {
  return g.nand_large_page ? g.nand_block_size : 16384 * g.nand_bus_bytes;
}

namespace {

// Reads the five ID values (16 bits each: both lanes).
void read_id(std::uint32_t (&id)[5]) {
  nand_cycle(0, nand_select);
  command(cmd_read_id);
  address(0);
  for (auto& v : id) v = nand_cycle(0, nand_read) & 0xFFFF;
  nand_cycle(0, nand_deselect);
}

// The maker record of a maker byte; nullptr (and a message) when no chip answered.
const NandMaker* identify_maker(std::uint32_t maker) {
  if (maker == 0x00 || maker == 0xFF) {
    flash_error("Unknown Flash Manufacturer (0x%08x)", maker);
    return nullptr;
  }
  for (const NandMaker& m : nand_makers)
    if (m.id == maker) return &m;
  return &nand_unknown_maker;
}

const NandDevice* identify_device(std::uint32_t device) {
  for (const NandDevice& d : nand_devices)
    if (d.id == device) return &d;
  flash_error("Unknown Flash Type (0x%08x)", device);
  return nullptr;
}

// Per-chip sizes before the bus width doubles them.
struct ChipGeometry {
  std::uint32_t page = 0, block = 0, cs0 = 0, cs1 = 0;
};

// Fills the page kind, row bytes and spare size and returns the per-chip sizes; the fourth and
// fifth ID bytes give a large-page chip's page and block size and (for some makers) its size.
ChipGeometry chip_geometry(const NandMaker& maker, const NandDevice& device, std::uint32_t i4,
                           std::uint32_t i5) {
  g.nand_row_bytes = device.row_bytes;
  if (!(device.flags & nand_large)) {
    g.nand_large_page = 0;
    g.nand_spare_size = 16;
    return {small_unit, 16384, device.chip_size, 0};
  }
  g.nand_large_page = 1;
  g.nand_spare_size = 64;
  const bool size_in_id = maker.flags & nand_size_in_id;
  const std::uint32_t id_size = (0x800000u << ((i5 >> 4) & 7)) << ((i5 >> 2) & 3);
  ChipGeometry c{1024u << (i4 & 3), 65536u << ((i4 >> 4) & 3), size_in_id ? id_size : 0, 0};
  if ((device.flags & nand_dual_die) && !(maker.flags & nand_single_die_dc)) {
    c.cs0 = size_in_id ? id_size : device.chip_size;
    c.cs1 = device.chip_size;
    nand_cs1_start = device.chip_size;
  }
  return c;
}

// The program unit, the page code and the table page are laid out for 2048-byte pages on one
// 8-bit chip per chip select; other large-page arrangements would program wrong bytes.
bool arrangement_supported(const ChipGeometry& c) {
  if (g.nand_large_page && c.page != large_unit) {
    flash_error("NAND page size %u is not supported", unsigned(c.page));
    return false;
  }
  if (g.nand_large_page && g.nand_bus_bytes == 2) {
    flash_error("Two 8-bit large-page NAND chips side by side are not supported");
    return false;
  }
  return true;
}

// Sets the sizes on the bus: two chips side by side double everything but the per-chip values.
void set_bus_geometry(ChipGeometry c) {
  g.nand_first_span = c.block - c.page;
  g.nand_chip_page_size = c.page;
  if (g.nand_bus_bytes == 2) c.cs0 *= 2, c.cs1 *= 2, c.block *= 2, c.page *= 2;
  g.nand_block_size = c.block;
  g.nand_page_size = c.page;
  g.nand_cs0_size = c.cs0;
  g.nand_cs1_size = c.cs1;
  g.nand_total_size = c.cs0 + c.cs1;
}

void describe_flash() {
  char line[128];
  std::snprintf(line, sizeof line, "%s NAND Flash: %dBit (CS0: %dMB, CS1: %dMB)\r\n",
                nand_maker_names[g.nand_maker], int(g.nand_bus_bytes * 8),
                int(g.nand_cs0_size >> 20), int(g.nand_cs1_size >> 20));
  target_description_append(line);
}

}  // namespace

int nand_probe() {
  if (cpu_type != cpu_pxa320 && cpu_type != cpu_pxa300 && cpu_type != cpu_pxa310) return 0;
  g.nand_cs0_size = g.nand_cs1_size = g.nand_total_size = 0;
  g.erased_start = g.erased_end = 0;
  nand_cs1_start = 0xFFFFFFFF;
  bs_set_pin_enable(73, 1);
  bs_set_pin_output(73, 1);

  std::uint32_t id[5];
  read_id(id);
  g.nand_bus_bytes = ((id[0] >> 8) & 0xFF) == (id[0] & 0xFF) ? 2 : 1;
  const NandMaker* maker = identify_maker(id[0] & 0xFF);
  if (!maker) return 0;
  g.nand_maker = maker->index;
  const NandDevice* device = identify_device(id[1] & 0xFF);
  if (!device) return 0;
  const ChipGeometry chip = chip_geometry(*maker, *device, id[3] & 0xFF, id[4] & 0xFF);
  if (!arrangement_supported(chip)) return 0;
  set_bus_geometry(chip);
  describe_flash();
  return 1;
}

namespace {

// The unit of the image offset `at` (logical) that a write or verify of the caller's `data`, up
// to `left` bytes from there, touches: its flash offset, the lanes, how far into the unit `at`
// lies and how many bytes of the caller's go there.
struct UnitPiece {
  std::uint64_t flash = 0;  // flash offset of `at`
  Lane lane;
  std::uint32_t within = 0;
  std::uint32_t take = 0;
  const char* refusal = nullptr;  // why these bytes cannot go to this unit
  bool padding = false;           // the unit is not to be programmed, but the bytes are all 0xFF
};

// Why the unit of piece `u` (image offset `at`) is not to be programmed, or nullptr.
const char* piece_refusal(const UnitPiece& u, std::uint64_t at, bool writing) {
  if (u.lane.skip) return "not used on the 16-bit NAND bus";
  if (const char* why = unit_refusal(u.flash - u.within, writing)) return why;
  // Large pages: the image offsets just past the bootloader area would land on pages the
  // shift already filled.
  if (g.nand_large_page && !g.bbt_page_write && at >= bootloader_area_end() &&
      at < 2ull * g.nand_block_size)
    return "past the end of the NAND bootloader area";
  return nullptr;
}

UnitPiece unit_piece(std::uint64_t at, const std::uint8_t* data, std::uint32_t left, bool writing) {
  UnitPiece u;
  u.flash = skip_table_page(at);
  u.lane = lane_at(u.flash);
  if (u.lane.skip) {  // nothing of the 16-bit bus lives there
    u.take = static_cast<std::uint32_t>(std::min<std::uint64_t>(left, small_skip_end - u.flash));
  } else {
    u.within = static_cast<std::uint32_t>(u.flash % u.lane.unit);
    u.take = std::min(u.lane.unit - u.within, left);
  }
  u.refusal = piece_refusal(u, at, writing);
  // Erased bytes need no programming: the padding of an assembled image may reach units that
  // are not the download's to program. Write and verify both pass over them.
  if (u.refusal && all_erased(data, u.take)) {
    u.refusal = nullptr;
    u.padding = true;
  }
  return u;
}

}  // namespace

int nand_write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  const std::uint64_t a = map_image_address(address);
  const std::uint64_t end = a + length;
  // PXA310 boot marker "HMIT" at flash offset 4, also in the caller's buffer so verify agrees.
  if (cpu_type == cpu_pxa310 && a <= 4 && end > 4) {
    static constexpr std::uint8_t marker[4] = {0x48, 0x4D, 0x49, 0x54};
    for (std::uint64_t at = 4; at < 8 && at < end; ++at) buffer[at - a] = marker[at - 4];
  }

  std::array<std::uint8_t, large_unit> padded;
  std::uint32_t pos = 0;
  while (pos < length) {
    const std::uint8_t* data = buffer + pos;
    const UnitPiece u = unit_piece(a + pos, data, length - pos, true);
    if (u.refusal) {
      flash_error("Cannot write NAND offset 0x%08x: %s", shown(u.flash), u.refusal);
      return 0;
    }
    if (u.padding) {
      pos += u.take;
      continue;
    }
    const std::uint64_t unit_start = u.flash - u.within;
    if (u.within != 0 || u.take != u.lane.unit) {
      if (!unit_blank(unit_start, u.lane)) {
        flash_error("NAND page at 0x%08x is already programmed", unsigned(unit_start));
        return 0;
      }
      padded.fill(0xFF);
      std::memcpy(padded.data() + u.within, data, u.take);
      data = padded.data();
    }
    if (!program_unit(data, unit_start, u.lane)) return 0;
    pos += u.take;
  }
  return 1;
}

int nand_verify(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  const std::uint64_t a = map_image_address(address);
  std::array<std::uint8_t, 1024> read;
  std::uint32_t pos = 0;
  while (pos < length) {
    const UnitPiece u = unit_piece(a + pos, buffer + pos, length - pos, false);
    if (u.refusal) return 0;  // what the write refused
    if (u.padding) {          // what the write skipped
      pos += u.take;
      continue;
    }
    const std::uint32_t w = u.lane.width;
    std::uint32_t done = 0;
    while (done < u.take) {
      const std::uint32_t bytes = std::min(u.take - done, 512u * w);
      const std::uint32_t units = (bytes + w - 1) / w;
      read_units(bus_offset(u.flash + done, w), 0, units, w, read.data(), read.size());
      if (std::memcmp(read.data(), buffer + pos + done, bytes) != 0) return 0;
      done += bytes;
    }
    pos += u.take;
  }
  return 1;
}

int nand_page_read(std::uint8_t* buffer, std::uint32_t capacity, std::uint32_t offset,
                   std::uint32_t spare, std::uint32_t count) {
  const Lane lane = lane_at(offset);
  if (lane.skip) return 1;
  read_units(bus_offset(offset, lane.width), spare, count, lane.width, buffer, capacity);
  return 1;
}

int nand_block_erase(std::uint32_t offset) {
  std::uint32_t mask = 1;
  if (g.nand_bus_bytes == 2) offset /= 2, mask = 0x101;
  nand_cycle(offset, nand_select);
  command(cmd_erase);
  send_row(row_of(offset));
  command(cmd_erase_confirm);
  if (!bs_wait_ready()) {
    flash_error("Timeout while erasing FLASH");
    return 0;
  }
  command(cmd_read_status);
  const std::uint32_t s = nand_cycle(0, nand_read);
  if (s & mask) flash_error("FlashErase returned (%x)", s);
  nand_cycle(0, nand_deselect);
  return 1;
}

int nand_erase(std::uint32_t start, std::uint32_t length) {
  g.nand_erase_origin = start;
  g.erased_start = g.erased_end = 0;
  const std::uint64_t s = start < image_address_base ? start : 0;
  const std::uint64_t end = s + length;
  // Everything the writes will need is checked before the first block is erased.
  char why[256];
  if (range_refusal(s, end, why, sizeof why)) {
    flash_error("%s", why);
    return 0;
  }
  if (length == 0) return 1;
  // The blocks under the flash offsets the image lands on (large pages move it past the table
  // page), the one holding the first byte included.
  const std::uint64_t first = skip_table_page(s);
  const std::uint64_t last = skip_table_page(end - 1);
  const bool touches_block0 = first < nand_block_size_at(0);
  const int table_valid = touches_block0 ? bbt_check_before_erase() : 0;
  std::uint64_t erased_start = 0, erased_end = 0;
  bool any = false;
  for (std::uint64_t o = 0; o < g.nand_total_size;) {
    const std::uint32_t size = nand_block_size_at(static_cast<std::uint32_t>(o));
    if (size == 0) return 0;
    if (o <= last && o + size > first) {
      if (!nand_block_erase(static_cast<std::uint32_t>(o))) return 0;
      if (!any) erased_start = o;
      erased_end = o + size;
      any = true;
    }
    o += size;
  }
  g.erased_start = erased_start;
  g.erased_end = erased_end;
  if (touches_block0) bbt_rewrite_after_erase(table_valid);
  return 1;
}

int nand_finish() {
  bs_wait_ready();
  return 1;
}

std::uint32_t nand_first_block_span() {
  return g.nand_first_span;
}

const FlashDriver nand_flash_driver{
    .name = "NAND Flash",
    .probe = nand_probe,
    .prepare = noop_prepare,
    .erase = nand_erase,
    .write = nand_write,
    .verify = nand_verify,
    .finish = nand_finish,
    .first_block_span = nand_first_block_span,
};

}  // namespace dz
