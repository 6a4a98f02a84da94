#include "sim/strata_flash.h"

#include <algorithm>
#include <limits>

#include "platform/clock.h"

namespace dz::sim {

namespace {

constexpr std::uint32_t main_block_words = 65536;       // 128 KiB per chip
constexpr std::uint32_t parameter_block_words = 16384;  // 32 KiB per chip
constexpr std::uint8_t sr_ready = 0x80, sr_erase = 0x20, sr_program = 0x10, sr_locked = 0x02;
constexpr std::uint8_t sr_sequence = sr_erase | sr_program;  // improper command sequence
constexpr std::uint64_t forever = std::numeric_limits<std::uint64_t>::max();

}  // namespace

const StrataChipType& strata_j3_128() {
  static const StrataChipType t{"J3 128Mbit", 0x0018, 24, 5,   0x08,  false,
                                true,         900000, 0,  300, 400000};
  return t;
}
const StrataChipType& strata_k3_128() {
  static const StrataChipType t{"K3 128Mbit", 0x8802, 24, 6,   0x08, false,
                                false,        800000, 0,  500, 1000};
  return t;
}
const StrataChipType& strata_p30b_128() {
  static const StrataChipType t{"P30(B) 128Mbit", 0x881B, 24,  6,   0x08, true, false,
                                800000,           300000, 500, 1000};
  return t;
}
const StrataChipType& strata_p30b_256_1k() {
  static const StrataChipType t{
      "P30(B) 256Mbit 65nm", 0x8922, 25, 10, 0x09, true, false, 800000, 300000, 2000, 1000};
  return t;
}
const StrataChipType& strata_p33b_128() {
  static const StrataChipType t{"P33(B) 128Mbit", 0x8821, 24,  6,   0x08, true, false,
                                800000,           300000, 500, 1000};
  return t;
}

StrataBank::StrataBank(const StrataChipType& type, std::uint32_t chips, std::uint32_t chip_select)
    : type_(type),
      chip_select_(chip_select),
      chip_words_((1u << type.size_log2) / 2),
      chips_(chips == 2 ? 2 : 1),
      contents_(std::size_t{chips == 2 ? 2u : 1u} << type.size_log2, 0xFF) {
  locked_.assign(chip_block_index(chip_words_ - 1) + 1, 0);
}

std::uint32_t StrataBank::chip_block_index(std::uint32_t word) const {
  if (type_.bottom_parameters) {
    if (word < main_block_words) return word / parameter_block_words;
    return 4 + (word - main_block_words) / main_block_words;
  }
  return word / main_block_words;
}

std::uint32_t StrataBank::chip_block_start(std::uint32_t word) const {
  if (type_.bottom_parameters && word < main_block_words)
    return word - word % parameter_block_words;
  return word - word % main_block_words;
}

std::uint32_t StrataBank::chip_block_words(std::uint32_t word) const {
  return type_.bottom_parameters && word < main_block_words ? parameter_block_words
                                                            : main_block_words;
}

std::uint32_t StrataBank::block_start(std::uint32_t offset) const {
  return chip_block_start(offset / bus_width()) * bus_width();
}
std::uint32_t StrataBank::block_size(std::uint32_t offset) const {
  return chip_block_words(offset / bus_width()) * bus_width();
}

void StrataBank::lock_block(std::uint32_t offset, bool locked) {
  const std::uint32_t index = chip_block_index((offset / bus_width()) % chip_words_);
  locked_[index] = locked ? 1 : 0;
}
void StrataBank::lock_all(bool locked) {
  std::fill(locked_.begin(), locked_.end(), locked);
}
bool StrataBank::block_locked(std::uint32_t offset) const {
  return locked_[chip_block_index((offset / bus_width()) % chip_words_)] != 0;
}

std::uint16_t StrataBank::get_word(std::uint32_t c, std::uint32_t word) const {
  const std::size_t at = std::size_t{word} * bus_width() + 2 * c;
  return static_cast<std::uint16_t>(contents_[at] | (contents_[at + 1] << 8));
}
void StrataBank::set_word(std::uint32_t c, std::uint32_t word, std::uint16_t value) {
  const std::size_t at = std::size_t{word} * bus_width() + 2 * c;
  contents_[at] = static_cast<std::uint8_t>(value);
  contents_[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

bool StrataBank::busy(const Chip& chip) const {
  return clock::now_us() < chip.busy_until_us;
}

void StrataBank::static_bus(const StaticBus& bus) {
  ++updates_;
  const bool selected = ((bus.ncs >> chip_select_) & 1) == 0;
  // A write acts on the rising edge of nWE (or the chip select), with what was on the bus while
  // nWE was low.
  if (write_pending_ && (bus.nwe || !selected)) {
    write_pending_ = false;
    const std::uint32_t word = (pending_address_ / bus_width()) % chip_words_;
    for (std::uint32_t c = 0; c < chips_.size(); ++c)
      chip_write(c, word, static_cast<std::uint16_t>(pending_data_ >> (16 * c)));
  }
  if (selected && !bus.nwe) {
    write_pending_ = true;
    pending_address_ = bus.address;
    // Lines nobody drives float to the pull-up.
    pending_data_ = (bus.data & bus.data_driven) | ~bus.data_driven;
  }
  selected_ = selected;
  reading_ = selected && !bus.noe && bus.nwe;
  read_address_ = bus.address;
}

std::uint32_t StrataBank::drive_data(std::uint32_t& mask) const {
  if (!reading_) {
    mask = 0;
    return 0;
  }
  const std::uint32_t word = (read_address_ / bus_width()) % chip_words_;
  std::uint32_t value = 0;
  for (std::uint32_t c = 0; c < chips_.size(); ++c)
    value |= std::uint32_t{chip_read(c, word)} << (16 * c);
  mask = chips_.size() == 2 ? 0xFFFFFFFF : 0xFFFF;
  return value;
}

std::uint16_t StrataBank::cfi(std::uint32_t index) const {
  const bool bottom = type_.bottom_parameters;
  const std::uint32_t main_blocks =
      (chip_words_ - (bottom ? main_block_words : 0)) / main_block_words;
  switch (index) {
    case 0x10:
      return 'Q';
    case 0x11:
      return 'R';
    case 0x12:
      return 'Y';
    case 0x13:
      return 0x01;  // Intel command set
    case 0x15:
      return 0x31;  // extended table
    case 0x1B:
      return 0x27;
    case 0x1C:
      return 0x36;
    case 0x1F:
      return type_.cfi_word_1f;
    case 0x20:
      return 0x08;
    case 0x21:
      return 0x0A;
    case 0x23:
      return 0x01;
    case 0x24:
      return 0x01;
    case 0x25:
      return 0x02;
    case 0x27:
      return static_cast<std::uint16_t>(type_.size_log2);
    case 0x28:
      return 0x01;  // x16
    case 0x2A:
      return static_cast<std::uint16_t>(type_.buffer_log2);
    case 0x2C:
      return bottom ? 2 : 1;
    // Region 1: parameter blocks (4 x 32 KiB) or the uniform main blocks.
    case 0x2D:
      return static_cast<std::uint16_t>(bottom ? 3 : (main_blocks - 1) & 0xFF);
    case 0x2E:
      return static_cast<std::uint16_t>(bottom ? 0 : (main_blocks - 1) >> 8);
    case 0x2F:
      return 0x00;
    case 0x30:
      return bottom ? 0x80 : 0x02;
    case 0x31:
      return static_cast<std::uint16_t>(bottom ? (main_blocks - 1) & 0xFF : 'P');
    case 0x32:
      return static_cast<std::uint16_t>(bottom ? (main_blocks - 1) >> 8 : 'R');
    case 0x33:
      return bottom ? 0x00 : 'I';
    case 0x34:
      return bottom ? 0x02 : '1';
    default:
      return 0;
  }
}

std::uint16_t StrataBank::chip_read(std::uint32_t c, std::uint32_t word) const {
  const Chip& chip = chips_[c];
  switch (chip.mode) {
    case Mode::array:
      return get_word(c, word);
    case Mode::status:
      return static_cast<std::uint16_t>(chip.status | (busy(chip) ? 0 : sr_ready));
    case Mode::identifier: {
      if (busy(chip)) return static_cast<std::uint16_t>(chip.status);
      const std::uint32_t within = word - chip_block_start(word);
      if (within == 0) return 0x0089;
      if (within == 1) return type_.device_code;
      if (within == 2) return locked_[chip_block_index(word)] ? 1 : 0;
      return 0;
    }
    case Mode::cfi:
      return cfi(word & 0xFF);
  }
  return 0xFFFF;
}

void StrataBank::chip_write(std::uint32_t c, std::uint32_t word, std::uint16_t value) {
  Chip& chip = chips_[c];
  const std::uint8_t cmd = static_cast<std::uint8_t>(value);
  const std::uint64_t now = clock::now_us();
  if (busy(chip)) {
    // While an operation runs only status reads make sense; everything else is ignored.
    if (cmd == 0x70) chip.mode = Mode::status;
    return;
  }
  const std::uint32_t block = chip_block_start(word);
  auto sequence_error = [&] {
    chip.status |= sr_sequence;
    chip.mode = Mode::status;
    chip.expect = Expect::command;
  };
  switch (chip.expect) {
    case Expect::command:
      switch (cmd) {
        case 0xFF:
          chip.mode = Mode::array;
          break;
        case 0x90:
          chip.mode = Mode::identifier;
          break;
        case 0x98:
          chip.mode = Mode::cfi;
          break;
        case 0x70:
          chip.mode = Mode::status;
          break;
        case 0x50:
          chip.status = 0;
          break;
        case 0x20:
          chip.block = block, chip.expect = Expect::erase_confirm, chip.mode = Mode::status;
          break;
        case 0x60:
          chip.block = block, chip.expect = Expect::lock_confirm, chip.mode = Mode::status;
          break;
        case 0xE8:
          chip.block = block, chip.expect = Expect::count, chip.mode = Mode::status;
          break;
        case 0x40:
        case 0x10:
          chip.block = block, chip.expect = Expect::word_data, chip.mode = Mode::status;
          break;
        default:
          sequence_error();
          break;
      }
      return;
    case Expect::erase_confirm: {
      chip.expect = Expect::command;
      if (cmd != 0xD0) return sequence_error();
      if (c == 0) ++erases_;
      if (locked_[chip_block_index(block)]) {
        chip.status |= sr_erase | sr_locked;
        return;
      }
      const std::uint32_t words = chip_block_words(block);
      const bool parameter = words == parameter_block_words;
      chip.busy_until_us =
          faults_.stuck_busy ? forever
                             : now + (parameter ? type_.parameter_erase_us : type_.block_erase_us);
      if (faults_.erase_error) {
        chip.status |= sr_erase;
        return;
      }
      for (std::uint32_t w = 0; w < words; ++w) set_word(c, block + w, 0xFFFF);
      return;
    }
    case Expect::lock_confirm:
      chip.expect = Expect::command;
      if (cmd == 0xD0) {
        if (type_.unlock_clears_all) {
          std::fill(locked_.begin(), locked_.end(), 0);
          chip.busy_until_us = now + type_.unlock_us;
        } else {
          locked_[chip_block_index(block)] = 0;
        }
      } else if (cmd == 0x01) {
        locked_[chip_block_index(block)] = 1;
      } else {
        sequence_error();
      }
      return;
    case Expect::count: {
      const std::uint32_t n = std::uint32_t{value} + 1;
      if (n > (1u << type_.buffer_log2) / 2) return sequence_error();  // beyond the buffer
      chip.remaining = n;
      chip.buffer.clear();
      chip.expect = Expect::data;
      return;
    }
    case Expect::data: {
      // Every word of a buffered program lies in the block of the command and in one buffer.
      const std::uint32_t buffer_words = (1u << type_.buffer_log2) / 2;
      if (block != chip.block ||
          (!chip.buffer.empty() && word / buffer_words != chip.buffer.front().first / buffer_words))
        return sequence_error();
      chip.buffer.emplace_back(word, value);
      if (--chip.remaining == 0) chip.expect = Expect::confirm;
      return;
    }
    case Expect::confirm:
      chip.expect = Expect::command;
      if (cmd != 0xD0) return sequence_error();
      if (c == 0) {
        ++buffer_programs_;
        program_counts_.push_back(static_cast<std::uint32_t>(chip.buffer.size()));
      }
      chip.busy_until_us = faults_.stuck_busy ? forever : now + type_.buffer_program_us;
      if (locked_[chip_block_index(chip.block)]) {
        chip.status |= sr_program | sr_locked;
        return;
      }
      if (faults_.program_error) {
        chip.status |= sr_program;
        return;
      }
      for (const auto& [w, v] : chip.buffer) set_word(c, w, get_word(c, w) & v);
      return;
    case Expect::word_data:
      chip.expect = Expect::command;
      chip.busy_until_us = now + 100;
      if (locked_[chip_block_index(block)]) {
        chip.status |= sr_program | sr_locked;
        return;
      }
      set_word(c, word, get_word(c, word) & value);
      return;
  }
}

}  // namespace dz::sim
