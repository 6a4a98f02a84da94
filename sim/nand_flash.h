#pragma once
// NAND flash chips on the PXA3xx data-flash pins, seen from the chip: 8-bit chips, each on one
// NAND chip select and one byte lane (two side by side form a 16-bit bus). Commands, address
// bytes and data are latched with what was on the pins while nWE was low and act on its rising
// edge; a falling nRE puts the next byte on the lane, its rising edge moves on. Busy times run
// on the virtual clock. Programming only clears bits. Pages that were never programmed are not
// stored (they read as erased), so large chips cost memory only for what is written.
// As the datasheets require, address bits the chip does not have must be 0 (row bits above the
// last page, column bits above the page with its spare): an address with such a bit set is
// refused (a program or erase ends with the failure bit and changes nothing, a read delivers
// 0x00), and so is a program of a page beyond its partial-program count since the last erase.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "sim/bus.h"

namespace dz::sim {

struct NandChipType {
  const char* name;
  std::uint8_t id[5];        // maker, device, third, fourth, fifth ID byte
  std::uint32_t page_size;   // data bytes per page
  std::uint32_t spare_size;  // 16 or 64
  std::uint32_t pages_per_block;
  std::uint32_t blocks;
  std::uint32_t row_bytes;  // 2 or 3
  std::uint32_t read_us, program_us, erase_us;
  std::uint32_t partial_programs;  // programs one page takes between two erases (NOP)
};

// Every simulated NAND chip: Samsung K9F1G08 (EC F1, 128 MiB, 2 KiB pages), K9F2G08 (EC DA,
// 256 MiB), K9F5608 (EC 75, 32 MiB, 512-byte pages), K9F1208 (EC 76, 64 MiB); Hynix 4 Gbit
// (AD DC). Partial programs per page: 4 on the large-page chips, 2 on the small-page ones (their
// main-array count).
inline constexpr NandChipType nand_chip_types[] = {
    {.name = "K9F1G08",
     .id = {0xEC, 0xF1, 0x00, 0x95, 0x40},
     .page_size = 2048,
     .spare_size = 64,
     .pages_per_block = 64,
     .blocks = 1024,
     .row_bytes = 2,
     .read_us = 25,
     .program_us = 250,
     .erase_us = 2000,
     .partial_programs = 4},
    {.name = "K9F2G08",
     .id = {0xEC, 0xDA, 0x10, 0x95, 0x44},
     .page_size = 2048,
     .spare_size = 64,
     .pages_per_block = 64,
     .blocks = 2048,
     .row_bytes = 3,
     .read_us = 25,
     .program_us = 250,
     .erase_us = 2000,
     .partial_programs = 4},
    {.name = "K9F5608",
     .id = {0xEC, 0x75, 0xA5, 0xBD, 0x00},
     .page_size = 512,
     .spare_size = 16,
     .pages_per_block = 32,
     .blocks = 2048,
     .row_bytes = 2,
     .read_us = 10,
     .program_us = 200,
     .erase_us = 2000,
     .partial_programs = 2},
    {.name = "K9F1208",
     .id = {0xEC, 0x76, 0x5A, 0x3F, 0x00},
     .page_size = 512,
     .spare_size = 16,
     .pages_per_block = 32,
     .blocks = 4096,
     .row_bytes = 3,
     .read_us = 10,
     .program_us = 200,
     .erase_us = 2000,
     .partial_programs = 2},
    {.name = "HY27UF084G2",
     .id = {0xAD, 0xDC, 0x10, 0x95, 0x54},
     .page_size = 2048,
     .spare_size = 64,
     .pages_per_block = 64,
     .blocks = 4096,
     .row_bytes = 3,
     .read_us = 25,
     .program_us = 250,
     .erase_us = 2000,
     .partial_programs = 4},
};

// The table's entries by name, for building modules and tests.
inline constexpr const NandChipType& nand_samsung_f1 = nand_chip_types[0];
inline constexpr const NandChipType& nand_samsung_da = nand_chip_types[1];
inline constexpr const NandChipType& nand_samsung_75 = nand_chip_types[2];
inline constexpr const NandChipType& nand_samsung_76 = nand_chip_types[3];
inline constexpr const NandChipType& nand_hynix_dc = nand_chip_types[4];
static_assert(nand_samsung_f1.id[1] == 0xF1 && nand_samsung_da.id[1] == 0xDA &&
              nand_samsung_75.id[1] == 0x75 && nand_samsung_76.id[1] == 0x76 &&
              nand_hynix_dc.id[1] == 0xDC);

struct NandFaults {
  bool program_fail = false;  // programs end with status bit 0 set
  bool erase_fail = false;    // erases end with status bit 0 set
  bool stuck_busy = false;    // the next program or erase never finishes
};

class NandChip {
 public:
  explicit NandChip(const NandChipType& type);

  const NandChipType& type() const { return type_; }
  std::uint32_t page_bytes() const { return type_.page_size + type_.spare_size; }
  std::uint32_t pages() const { return type_.pages_per_block * type_.blocks; }
  // Data and spare of a page (erased pages read 0xFF).
  void read_page(std::uint32_t page, std::uint8_t* out) const;
  void write_page_raw(std::uint32_t page, const std::uint8_t* bytes);  // replaces, for loading
  bool page_stored(std::uint32_t page) const { return pages_.count(page) != 0; }
  // Factory bad-block mark: first spare byte of a large page, sixth of a small page, in the first
  // two pages of the block. A bad block refuses erase and program.
  void mark_bad(std::uint32_t block);
  bool bad(std::uint32_t block) const;
  NandFaults& faults() { return faults_; }

  // Pin events, from the array.
  void write_cycle(bool cle, bool ale, std::uint8_t value);
  std::uint8_t read_byte() const;
  void read_done();
  bool ready() const;

  std::uint64_t programs() const { return programs_; }
  std::uint64_t erases() const { return erases_; }
  // Programs of `page` since its block was last erased (refused ones included).
  std::uint32_t page_programs(std::uint32_t page) const;
  // Addresses refused for bits the chip does not have, and programs refused for their count.
  std::uint64_t address_errors() const { return address_errors_; }
  std::uint64_t program_count_errors() const { return program_count_errors_; }

 private:
  enum class Mode : std::uint8_t { idle, id, status, read };
  enum class Pending : std::uint8_t {
    none,
    id_address,
    read_address,
    program_address,
    program_data,
    erase_address
  };
  bool large() const { return type_.page_size >= 2048; }
  std::uint32_t address_cycles() const { return (large() ? 2 : 1) + type_.row_bytes; }
  void address_complete();
  void load_register();
  // The confirm of a program or erase: the chip goes busy and fails unless the operation
  // completes; false (and counted) when the address has bits the chip does not have.
  bool start_operation(std::uint64_t& count, std::uint32_t busy_us, bool address_valid);
  void program();
  void erase();
  bool column_valid() const;
  bool row_valid() const { return row_ < pages(); }

  const NandChipType& type_;
  std::map<std::uint32_t, std::vector<std::uint8_t>> pages_;
  std::vector<std::uint8_t> bad_;
  NandFaults faults_;
  Mode mode_ = Mode::idle;
  Pending pending_ = Pending::none;
  std::uint32_t pointer_ = 0;  // small pages: 0, 256 or 512 (spare) from commands 00/01/50
  std::vector<std::uint8_t> address_;
  std::uint32_t column_ = 0;
  std::uint32_t row_ = 0;
  bool address_ok_ = false;  // the last read or program address names a real row and column
  std::vector<std::uint8_t> page_register_;
  std::uint32_t id_index_ = 0;
  bool failed_ = false;
  std::uint64_t busy_until_us_ = 0;
  std::uint64_t programs_ = 0;
  std::uint64_t erases_ = 0;
  std::uint64_t address_errors_ = 0;
  std::uint64_t program_count_errors_ = 0;
  std::map<std::uint32_t, std::uint32_t> page_programs_;
};

// The chips on the NAND port.
class NandArray final : public BusDevice {
 public:
  // Adds a chip on NAND chip select `cs` (0 or 1) and byte lane `lane` (0 low, 1 high).
  NandChip& add(const NandChipType& type, std::uint32_t cs, std::uint32_t lane);
  std::size_t size() const { return chips_.size(); }
  NandChip& chip(std::size_t i) { return *chips_[i].chip; }
  std::uint32_t chip_select(std::size_t i) const { return chips_[i].cs; }
  std::uint32_t lane(std::size_t i) const { return chips_[i].lane; }

  void nand_port(const NandPort& port) override;
  std::uint32_t drive_data(std::uint32_t& mask) const override;
  bool ready() const override;

  std::uint64_t updates() const { return updates_; }

 private:
  struct Slot {
    std::unique_ptr<NandChip> chip;
    std::uint32_t cs = 0, lane = 0;
  };
  std::vector<Slot> chips_;
  NandPort last_;
  bool write_pending_ = false;
  NandPort latched_;
  std::uint64_t updates_ = 0;
};

}  // namespace dz::sim
