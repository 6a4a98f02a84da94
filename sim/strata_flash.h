#pragma once
// Intel StrataFlash NOR chips on the static-memory bus, seen from the chip: one 16-bit chip, or
// two side by side as a 32-bit bus, on one chip-select line. Commands are latched with the
// address and data present while nWE was low and act when nWE (or the chip select) rises; reads
// drive the data lines while the chip is selected and nOE is low. Busy times run on the virtual
// clock. Programming only clears bits, as on real NOR flash.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/bus.h"

namespace dz::sim {

struct StrataChipType {
  const char* name;
  std::uint16_t device_code;
  std::uint32_t size_log2;    // bytes per chip (CFI word 0x27)
  std::uint32_t buffer_log2;  // write-buffer bytes (CFI word 0x2A)
  std::uint16_t cfi_word_1f;  // typical word-program time exponent
  bool bottom_parameters;     // four 32 KiB parameter blocks at the bottom
  bool unlock_clears_all;     // J3: block unlock clears every lock bit at once
  std::uint32_t block_erase_us;
  std::uint32_t parameter_erase_us;
  std::uint32_t buffer_program_us;
  std::uint32_t unlock_us;
};

// Every simulated StrataFlash chip, one record each (timings are typical datasheet values).
inline constexpr StrataChipType strata_chip_types[] = {
    {.name = "J3 128Mbit",
     .device_code = 0x0018,
     .size_log2 = 24,
     .buffer_log2 = 5,
     .cfi_word_1f = 0x08,
     .bottom_parameters = false,
     .unlock_clears_all = true,
     .block_erase_us = 900000,
     .parameter_erase_us = 0,
     .buffer_program_us = 300,
     .unlock_us = 400000},
    {.name = "K3 128Mbit",
     .device_code = 0x8802,
     .size_log2 = 24,
     .buffer_log2 = 6,
     .cfi_word_1f = 0x08,
     .bottom_parameters = false,
     .unlock_clears_all = false,
     .block_erase_us = 800000,
     .parameter_erase_us = 0,
     .buffer_program_us = 500,
     .unlock_us = 1000},
    {.name = "P30(B) 128Mbit",
     .device_code = 0x881B,
     .size_log2 = 24,
     .buffer_log2 = 6,
     .cfi_word_1f = 0x08,
     .bottom_parameters = true,
     .unlock_clears_all = false,
     .block_erase_us = 800000,
     .parameter_erase_us = 300000,
     .buffer_program_us = 500,
     .unlock_us = 1000},
    {.name = "P30(B) 256Mbit 65nm",  // 1 KiB write buffer
     .device_code = 0x8922,
     .size_log2 = 25,
     .buffer_log2 = 10,
     .cfi_word_1f = 0x09,
     .bottom_parameters = true,
     .unlock_clears_all = false,
     .block_erase_us = 800000,
     .parameter_erase_us = 300000,
     .buffer_program_us = 2000,
     .unlock_us = 1000},
    {.name = "P33(B) 128Mbit",
     .device_code = 0x8821,
     .size_log2 = 24,
     .buffer_log2 = 6,
     .cfi_word_1f = 0x08,
     .bottom_parameters = true,
     .unlock_clears_all = false,
     .block_erase_us = 800000,
     .parameter_erase_us = 300000,
     .buffer_program_us = 500,
     .unlock_us = 1000},
};

// The table's entries by name, for building modules and tests.
inline constexpr const StrataChipType& strata_j3_128 = strata_chip_types[0];
inline constexpr const StrataChipType& strata_k3_128 = strata_chip_types[1];
inline constexpr const StrataChipType& strata_p30b_128 = strata_chip_types[2];
inline constexpr const StrataChipType& strata_p30b_256_1k = strata_chip_types[3];
inline constexpr const StrataChipType& strata_p33b_128 = strata_chip_types[4];
static_assert(strata_j3_128.device_code == 0x0018 && strata_k3_128.device_code == 0x8802 &&
              strata_p30b_128.device_code == 0x881B && strata_p30b_256_1k.device_code == 0x8922 &&
              strata_p33b_128.device_code == 0x8821);

struct StrataFaults {
  bool erase_error = false;    // erases end with SR.5 set
  bool program_error = false;  // buffer programs end with SR.4 set
  bool stuck_busy = false;     // the next erase or program never finishes
};

class StrataBank final : public BusDevice {
 public:
  // `chips` 1 (16-bit bus) or 2 (32-bit bus); `chip_select` is the nCS line it answers to.
  StrataBank(const StrataChipType& type, std::uint32_t chips, std::uint32_t chip_select);

  void static_bus(const StaticBus& bus) override;
  std::uint32_t drive_data(std::uint32_t& mask) const override;

  const StrataChipType& type() const { return type_; }
  std::uint32_t chip_select() const { return chip_select_; }
  std::uint32_t bus_width() const { return 2 * chips_.size(); }
  // Contents in bus order (little-endian bus words), size = chips x chip size.
  std::span<std::uint8_t> contents() { return contents_; }
  std::span<const std::uint8_t> contents() const { return contents_; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(contents_.size()); }
  // Erase blocks in bus bytes: their start offsets.
  std::uint32_t block_start(std::uint32_t offset) const;
  std::uint32_t block_size(std::uint32_t offset) const;

  // Faults and lock bits (per block, all chips of the bank together).
  StrataFaults& faults() { return faults_; }
  void lock_block(std::uint32_t offset, bool locked);
  void lock_all(bool locked);
  bool block_locked(std::uint32_t offset) const;

  // Counters for tests and benchmarks.
  std::uint64_t updates() const { return updates_; }
  std::uint64_t erases() const { return erases_; }
  std::uint64_t buffer_programs() const { return buffer_programs_; }
  // Word counts of every buffered program, as the chips received them (per chip, chip 0).
  const std::vector<std::uint32_t>& program_word_counts() const { return program_counts_; }

 private:
  enum class Mode : std::uint8_t { array, status, identifier, cfi };
  enum class Expect : std::uint8_t {
    command,
    erase_confirm,
    lock_confirm,
    count,
    data,
    confirm,
    word_data
  };
  struct Chip {
    Mode mode = Mode::array;
    Expect expect = Expect::command;
    std::uint8_t status = 0;  // SR bits 0..6 (bit 7 comes from the busy time)
    std::uint64_t busy_until_us = 0;
    std::uint32_t block = 0;      // chip word where the pending command's block starts
    std::uint32_t remaining = 0;  // buffer words still expected
    std::vector<std::pair<std::uint32_t, std::uint16_t>> buffer;
  };

  // A first-cycle command: the read mode it selects and the cycle it waits for next.
  struct Command {
    std::uint8_t code;
    Mode mode;
    bool keeps_mode;     // the mode stays as it was
    bool clears_status;  // clears SR bits 1..6
    Expect expect;       // anything but `command`: the cycle names the block of the operation
  };
  static const Command commands_[];

  void chip_write(std::uint32_t c, std::uint32_t word, std::uint16_t value);
  // The steps of chip_write, one for each cycle a chip can be waiting for. `block` is the start
  // of the block the cycle's address lies in (erase and lock act on the confirm cycle's block).
  void first_cycle(Chip& chip, std::uint32_t block, std::uint8_t cmd);
  void erase_confirm(std::uint32_t c, std::uint32_t block, std::uint8_t cmd);
  void lock_confirm(Chip& chip, std::uint32_t block, std::uint8_t cmd);
  void buffer_count(Chip& chip, std::uint16_t value);
  void buffer_data(Chip& chip, std::uint32_t block, std::uint32_t word, std::uint16_t value);
  void buffer_confirm(std::uint32_t c, std::uint8_t cmd);
  void word_program(std::uint32_t c, std::uint32_t word, std::uint16_t value);
  void sequence_error(Chip& chip);
  std::uint16_t chip_read(std::uint32_t c, std::uint32_t word) const;
  std::uint16_t cfi(std::uint32_t index) const;
  bool busy(const Chip& chip) const;
  std::uint32_t chip_block_start(std::uint32_t word) const;
  std::uint32_t chip_block_words(std::uint32_t word) const;
  std::uint32_t chip_block_index(std::uint32_t word) const;
  std::uint16_t get_word(std::uint32_t c, std::uint32_t word) const;
  void set_word(std::uint32_t c, std::uint32_t word, std::uint16_t value);

  const StrataChipType& type_;
  std::uint32_t chip_select_;
  std::uint32_t chip_words_;
  std::vector<Chip> chips_;
  std::vector<std::uint8_t> contents_;
  std::vector<std::uint8_t> locked_;  // per erase block of a chip (all chips alike)
  StrataFaults faults_;
  bool write_pending_ = false;
  std::uint32_t pending_address_ = 0;
  std::uint32_t pending_data_ = 0;
  bool selected_ = false;
  bool reading_ = false;
  std::uint32_t read_address_ = 0;
  std::uint64_t updates_ = 0;
  std::uint64_t erases_ = 0;
  std::uint64_t buffer_programs_ = 0;
  std::vector<std::uint32_t> program_counts_;
};

}  // namespace dz::sim
