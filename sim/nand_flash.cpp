#include "sim/nand_flash.h"

#include <algorithm>
#include <limits>

#include "platform/clock.h"

namespace dz::sim {

namespace {
constexpr std::uint64_t forever = std::numeric_limits<std::uint64_t>::max();
}

NandChip::NandChip(const NandChipType& type)
    : type_(type), bad_(type.blocks, 0), page_register_(page_bytes(), 0xFF) {}

void NandChip::read_page(std::uint32_t page, std::uint8_t* out) const {
  const auto it = pages_.find(page);
  if (it == pages_.end())
    std::fill_n(out, page_bytes(), 0xFF);
  else
    std::copy(it->second.begin(), it->second.end(), out);
}

void NandChip::write_page_raw(std::uint32_t page, const std::uint8_t* bytes) {
  if (page >= pages()) return;
  if (std::all_of(bytes, bytes + page_bytes(), [](std::uint8_t b) { return b == 0xFF; })) {
    pages_.erase(page);
    return;
  }
  pages_[page].assign(bytes, bytes + page_bytes());
}

void NandChip::mark_bad(std::uint32_t block) {
  if (block >= type_.blocks) return;
  bad_[block] = 1;
  const std::uint32_t mark = type_.page_size + (large() ? 0 : 5);
  for (std::uint32_t p = 0; p < 2; ++p) {
    const std::uint32_t page = block * type_.pages_per_block + p;
    std::vector<std::uint8_t> bytes(page_bytes());
    read_page(page, bytes.data());
    bytes[mark] = 0x00;
    pages_[page] = bytes;
  }
}

bool NandChip::bad(std::uint32_t block) const {
  return block < bad_.size() && bad_[block];
}

bool NandChip::ready() const {
  return clock::now_us() >= busy_until_us_;
}

std::uint32_t NandChip::page_programs(std::uint32_t page) const {
  const auto it = page_programs_.find(page);
  return it == page_programs_.end() ? 0 : it->second;
}

bool NandChip::column_valid() const {
  // Large pages: two column cycles, of which the second carries only A8..A11.
  if (large()) return (address_[1] & 0xF0) == 0 && column_ < page_bytes();
  return true;
}

void NandChip::load_register() {
  if (address_ok_) {
    read_page(row_, page_register_.data());
  } else {
    ++address_errors_;
    std::fill(page_register_.begin(), page_register_.end(), 0x00);
    column_ = 0;
  }
  busy_until_us_ = clock::now_us() + type_.read_us;
  mode_ = Mode::read;
}

bool NandChip::start_operation(std::uint64_t& count, std::uint32_t busy_us, bool address_valid) {
  pending_ = Pending::none;
  mode_ = Mode::idle;
  ++count;
  busy_until_us_ = faults_.stuck_busy ? forever : clock::now_us() + busy_us;
  failed_ = true;
  if (!address_valid) ++address_errors_;
  return address_valid;
}

void NandChip::program() {
  if (!start_operation(programs_, type_.program_us, address_ok_)) return;
  if (faults_.program_fail || bad(row_ / type_.pages_per_block)) return;
  if (++page_programs_[row_] > type_.partial_programs) {
    ++program_count_errors_;
    return;
  }
  failed_ = false;
  std::vector<std::uint8_t> bytes(page_bytes());
  read_page(row_, bytes.data());
  for (std::uint32_t i = 0; i < page_bytes(); ++i) bytes[i] &= page_register_[i];
  write_page_raw(row_, bytes.data());
}

void NandChip::erase() {
  if (!start_operation(erases_, type_.erase_us, row_valid())) return;
  const std::uint32_t block = row_ / type_.pages_per_block;
  if (faults_.erase_fail || bad(block)) return;
  failed_ = false;
  const std::uint32_t first = block * type_.pages_per_block;
  const std::uint32_t end = first + type_.pages_per_block;
  pages_.erase(pages_.lower_bound(first), pages_.lower_bound(end));
  page_programs_.erase(page_programs_.lower_bound(first), page_programs_.lower_bound(end));
}

void NandChip::write_cycle(bool cle, bool ale, std::uint8_t value) {
  if (!ready()) {
    // While busy the chip answers only status and reset.
    if (cle && value == 0x70) mode_ = Mode::status;
    return;
  }
  if (cle) {
    switch (value) {
      case 0xFF:
        mode_ = Mode::idle, pending_ = Pending::none, pointer_ = 0;
        break;
      case 0x90:
        pending_ = Pending::id_address, address_.clear();
        break;
      case 0x00:
      case 0x01:
      case 0x50:
        if (!large()) pointer_ = value == 0x00 ? 0 : value == 0x01 ? 256 : type_.page_size;
        pending_ = Pending::read_address, address_.clear();
        break;
      case 0x30:
        if (large() && pending_ == Pending::read_address && address_.size() == address_cycles()) {
          load_register();
          pending_ = Pending::none;
        }
        break;
      case 0x80:
        pending_ = Pending::program_address, address_.clear();
        std::fill(page_register_.begin(), page_register_.end(), 0xFF);
        break;
      case 0x10:
        if (pending_ == Pending::program_data) program();
        if (!large()) pointer_ = 0;
        break;
      case 0x60:
        pending_ = Pending::erase_address, address_.clear();
        break;
      case 0xD0:
        if (pending_ == Pending::erase_address && address_.size() == type_.row_bytes) erase();
        break;
      case 0x70:
        mode_ = Mode::status;
        break;
      default:
        break;
    }
    return;
  }
  if (ale) {
    if (address_.size() < 8) address_.push_back(value);
    address_complete();
    return;
  }
  if (pending_ == Pending::program_data && column_ < page_bytes())
    page_register_[column_++] = value;
}

void NandChip::address_complete() {
  const std::size_t n = address_.size();
  auto row_from = [&](std::size_t first) {
    std::uint32_t row = 0;
    for (std::uint32_t i = 0; i < type_.row_bytes; ++i)
      row |= std::uint32_t{address_[first + i]} << (8 * i);
    return row;
  };
  auto column_from = [&] {
    return large() ? (address_[0] | (address_[1] << 8)) : pointer_ + address_[0];
  };
  switch (pending_) {
    case Pending::id_address:
      if (n == 1) mode_ = Mode::id, id_index_ = 0, pending_ = Pending::none;
      break;
    case Pending::read_address:
      if (n == address_cycles()) {
        column_ = column_from();
        row_ = row_from(large() ? 2 : 1);
        address_ok_ = row_valid() && column_valid();
        if (!large()) {  // small pages start reading at once
          load_register();
          pending_ = Pending::none;
          if (pointer_ == 256) pointer_ = 0;
        }
      }
      break;
    case Pending::program_address:
      if (n == address_cycles()) {
        column_ = column_from();
        row_ = row_from(large() ? 2 : 1);
        address_ok_ = row_valid() && column_valid();
        pending_ = Pending::program_data;
      }
      break;
    case Pending::erase_address:
      if (n == type_.row_bytes) row_ = row_from(0);
      break;
    default:
      break;
  }
}

std::uint8_t NandChip::read_byte() const {
  switch (mode_) {
    case Mode::id:
      return id_index_ < 5 ? type_.id[id_index_] : 0x00;
    case Mode::status:
      return static_cast<std::uint8_t>(0x80 | (ready() ? 0x40 : 0) | (failed_ ? 1 : 0));
    case Mode::read:
      return column_ < page_bytes() ? page_register_[column_] : 0xFF;
    default:
      return 0xFF;
  }
}

void NandChip::read_done() {
  if (mode_ == Mode::id) ++id_index_;
  if (mode_ == Mode::read && column_ < page_bytes()) ++column_;
}

NandChip& NandArray::add(const NandChipType& type, std::uint32_t cs, std::uint32_t lane) {
  chips_.push_back(Slot{std::make_unique<NandChip>(type), cs & 1, lane & 1});
  return *chips_.back().chip;
}

namespace {
bool selects(const NandPort& port, std::uint32_t cs) {
  return cs == 0 ? !port.ncs0 : !port.ncs1;
}
}  // namespace

void NandArray::nand_port(const NandPort& port) {
  ++updates_;
  if (write_pending_ && (port.nwe || (!selects(port, 0) && !selects(port, 1)))) {
    write_pending_ = false;
    for (auto& slot : chips_) {
      if (!selects(latched_, slot.cs)) continue;
      const std::uint32_t shift = 8 * slot.lane;
      const bool driven = ((latched_.data_driven >> shift) & 0xFF) == 0xFF;
      const std::uint8_t byte = driven ? static_cast<std::uint8_t>(latched_.data >> shift) : 0xFF;
      slot.chip->write_cycle(latched_.cle, latched_.ale, byte);
    }
  }
  if (!port.nwe) {
    write_pending_ = true;
    latched_ = port;
  }
  if (!last_.nre && port.nre)
    for (auto& slot : chips_)
      if (selects(last_, slot.cs)) slot.chip->read_done();
  last_ = port;
}

std::uint32_t NandArray::drive_data(std::uint32_t& mask) const {
  mask = 0;
  std::uint32_t value = 0;
  if (last_.nre) return 0;
  for (const auto& slot : chips_) {
    if (!selects(last_, slot.cs)) continue;
    value |= std::uint32_t{slot.chip->read_byte()} << (8 * slot.lane);
    mask |= 0xFFu << (8 * slot.lane);
  }
  return value;
}

bool NandArray::ready() const {
  return std::all_of(chips_.begin(), chips_.end(), [](const Slot& s) { return s.chip->ready(); });
}

}  // namespace dz::sim
