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

const StrataBank::Command StrataBank::commands_[] = {
    {.code = 0xFF,
     .mode = Mode::array,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::command},  // read array
    {.code = 0x90,
     .mode = Mode::identifier,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::command},  // read identifier
    {.code = 0x98,
     .mode = Mode::cfi,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::command},  // read query
    {.code = 0x70,
     .mode = Mode::status,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::command},  // read status
    {.code = 0x50,
     .mode = Mode::array,
     .keeps_mode = true,
     .clears_status = true,
     .expect = Expect::command},  // clear status
    {.code = 0x20,
     .mode = Mode::status,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::erase_confirm},  // block erase
    {.code = 0x60,
     .mode = Mode::status,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::lock_confirm},  // lock setup
    {.code = 0xE8,
     .mode = Mode::status,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::count},  // buffered program
    {.code = 0x40,
     .mode = Mode::status,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::word_data},  // word program
    {.code = 0x10,
     .mode = Mode::status,
     .keeps_mode = false,
     .clears_status = false,
     .expect = Expect::word_data},  // word program (alternate)
};

void StrataBank::sequence_error(Chip& chip) {
  chip.status |= sr_sequence;
  chip.mode = Mode::status;
  chip.expect = Expect::command;
}

void StrataBank::chip_write(std::uint32_t c, std::uint32_t word, std::uint16_t value) {
  Chip& chip = chips_[c];
  const auto cmd = static_cast<std::uint8_t>(value);
  if (busy(chip)) {
    // While an operation runs only status reads make sense; everything else is ignored.
    if (cmd == 0x70) chip.mode = Mode::status;
    return;
  }
  const std::uint32_t block = chip_block_start(word);
  switch (chip.expect) {
    case Expect::command:
      return first_cycle(chip, block, cmd);
    case Expect::erase_confirm:
      return erase_confirm(c, block, cmd);
    case Expect::lock_confirm:
      return lock_confirm(chip, block, cmd);
    case Expect::count:
      return buffer_count(chip, value);
    case Expect::data:
      return buffer_data(chip, block, word, value);
    case Expect::confirm:
      return buffer_confirm(c, cmd);
    case Expect::word_data:
      return word_program(c, word, value);
  }
}

void StrataBank::first_cycle(Chip& chip, std::uint32_t block, std::uint8_t cmd) {
  const auto* command = std::find_if(std::begin(commands_), std::end(commands_),
                                     [cmd](const Command& known) { return known.code == cmd; });
  if (command == std::end(commands_)) return sequence_error(chip);
  if (!command->keeps_mode) chip.mode = command->mode;
  if (command->clears_status) chip.status = 0;
  if (command->expect != Expect::command) {
    chip.block = block;
    chip.expect = command->expect;
  }
}

void StrataBank::erase_confirm(std::uint32_t c, std::uint32_t block, std::uint8_t cmd) {
  Chip& chip = chips_[c];
  chip.expect = Expect::command;
  if (cmd != 0xD0) return sequence_error(chip);
  if (c == 0) ++erases_;
  if (locked_[chip_block_index(block)]) {
    chip.status |= sr_erase | sr_locked;
    return;
  }
  const std::uint32_t words = chip_block_words(block);
  const bool parameter = words == parameter_block_words;
  chip.busy_until_us = faults_.stuck_busy ? forever
                                          : clock::now_us() + (parameter ? type_.parameter_erase_us
                                                                         : type_.block_erase_us);
  if (faults_.erase_error) {
    chip.status |= sr_erase;
    return;
  }
  for (std::uint32_t w = 0; w < words; ++w) set_word(c, block + w, 0xFFFF);
}

void StrataBank::lock_confirm(Chip& chip, std::uint32_t block, std::uint8_t cmd) {
  chip.expect = Expect::command;
  if (cmd == 0xD0) {
    if (type_.unlock_clears_all) {
      std::fill(locked_.begin(), locked_.end(), 0);
      chip.busy_until_us = clock::now_us() + type_.unlock_us;
    } else {
      locked_[chip_block_index(block)] = 0;
    }
  } else if (cmd == 0x01) {
    locked_[chip_block_index(block)] = 1;
  } else {
    sequence_error(chip);
  }
}

void StrataBank::buffer_count(Chip& chip, std::uint16_t value) {
  const std::uint32_t n = std::uint32_t{value} + 1;
  if (n > (1u << type_.buffer_log2) / 2) return sequence_error(chip);  // beyond the buffer
  chip.remaining = n;
  chip.buffer.clear();
  chip.expect = Expect::data;
}

void StrataBank::buffer_data(Chip& chip, std::uint32_t block, std::uint32_t word,
                             std::uint16_t value) {
  // Every word of a buffered program lies in the block of the command and in one buffer.
  const std::uint32_t buffer_words = (1u << type_.buffer_log2) / 2;
  if (block != chip.block ||
      (!chip.buffer.empty() && word / buffer_words != chip.buffer.front().first / buffer_words))
    return sequence_error(chip);
  chip.buffer.emplace_back(word, value);
  if (--chip.remaining == 0) chip.expect = Expect::confirm;
}

void StrataBank::buffer_confirm(std::uint32_t c, std::uint8_t cmd) {
  Chip& chip = chips_[c];
  chip.expect = Expect::command;
  if (cmd != 0xD0) return sequence_error(chip);
  if (c == 0) {
    ++buffer_programs_;
    program_counts_.push_back(static_cast<std::uint32_t>(chip.buffer.size()));
  }
  chip.busy_until_us = faults_.stuck_busy ? forever : clock::now_us() + type_.buffer_program_us;
  if (locked_[chip_block_index(chip.block)]) {
    chip.status |= sr_program | sr_locked;
    return;
  }
  if (faults_.program_error) {
    chip.status |= sr_program;
    return;
  }
  for (const auto& [w, v] : chip.buffer) set_word(c, w, get_word(c, w) & v);
}

void StrataBank::word_program(std::uint32_t c, std::uint32_t word, std::uint16_t value) {
  Chip& chip = chips_[c];
  chip.expect = Expect::command;
  chip.busy_until_us = clock::now_us() + 100;
  if (locked_[chip_block_index(chip_block_start(word))]) {
    chip.status |= sr_program | sr_locked;
    return;
  }
  set_word(c, word, get_word(c, word) & value);
}

}  // namespace dz::sim
