// StrataFlash through boundary-scan bus cycles. Every command carries its byte in both 16-bit
// halves so that both chips of a 32-bit bus receive it; status bits are tested in every half in
// use (strata_data_mask).
#include "flash/strata_flash.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "download/interface.h"
#include "flash/flash_message.h"
#include "jtag/cable.h"
#include "platform/clock.h"
#include "state/process_state.h"

namespace dz {

StrataFlashState strata;

void reset_strata_state() {
  strata = StrataFlashState{};
}

namespace {

constexpr std::uint32_t cmd_read_id = 0x00900090;
constexpr std::uint32_t cmd_cfi_query = 0x00980098;
constexpr std::uint32_t cmd_read_array = 0x00FF00FF;
constexpr std::uint32_t cmd_clear_status = 0x00500050;
constexpr std::uint32_t cmd_unlock = 0x00600060;
constexpr std::uint32_t cmd_confirm = 0x00D000D0;
constexpr std::uint32_t cmd_erase = 0x00200020;
constexpr std::uint32_t cmd_write_buffer = 0x00E800E8;
constexpr std::uint32_t status_ready = 0x00800080;
constexpr std::uint32_t status_erase_failed = 0x002A002A;
constexpr std::uint32_t lock_bit = 0x00010001;
constexpr std::uint32_t image_address_base = 0x4C000000;
constexpr std::uint32_t wait_limit_ms = 2000;

std::uint32_t ready_bits() {
  return status_ready & strata.strata_data_mask;
}
bool is_ready(std::uint32_t status) {
  return (status & ready_bits()) == ready_bits();
}

// Word n of the flash or a block starting at `base`.
std::uint32_t word_address(std::uint32_t base, std::uint32_t n) {
  return base + n * strata.strata_bus_width;
}

// Image addresses count from the start of the last erase; smaller addresses are flash offsets.
std::uint32_t translate(std::uint32_t address) {
  return address >= image_address_base ? address - strata.erase_origin : address;
}

std::uint32_t elapsed_since(std::uint32_t start) {
  return clock::tick_ms() - start;
}

// The bus word at flash offset `word`, built from the caller's bytes in [begin, end); bytes
// outside that range are 0xFF (programming leaves them as they are).
std::uint32_t word_from(const std::uint8_t* buffer, std::uint64_t begin, std::uint64_t end,
                        std::uint64_t word) {
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < strata.strata_bus_width; ++i) {
    const std::uint64_t at = word + i;
    const std::uint32_t byte = (at >= begin && at < end) ? buffer[at - begin] : 0xFF;
    value |= byte << (8 * i);
  }
  return value;
}

}  // namespace

std::uint32_t strata_read(std::uint32_t address) {
  // Every operation ends with nOE high, so READ always gives the falling edge on which the chip
  // latches its status. The leading IDLE only sets the address up before nOE falls, which an
  // asynchronous read does not need (the data is valid an access time after the address, and
  // the capture comes a whole scan later): fast mode leaves it out.
  if (!jtag_fast_programming) bs_bus_cycle(bus_idle, address, 0, 0);
  bs_bus_cycle(bus_read, address, 0, 0);
  return bs_bus_cycle(bus_idle, address, 0, 1) & strata.strata_data_mask;
}

void strata_write(std::uint32_t address, std::uint32_t value) {
  bs_bus_cycle(bus_write_setup, address, value, 0);
  bs_bus_cycle(bus_write_strobe, address, value, 0);
}

std::uint32_t strata_bus_address(std::uint32_t offset) {
  return offset < strata.cs0_size ? offset : strata_cs1_base + (offset - strata.cs0_size);
}

std::uint32_t strata_block_size(std::uint32_t offset) {
  const std::uint32_t main_block = strata.strata_bus_width * 65536;
  // Each chip select carries its own chips, so each has its own parameter blocks.
  const std::uint32_t within = offset < strata.cs0_size ? offset : offset - strata.cs0_size;
  if (strata_families[strata.strata_family].bottom_parameters && within < main_block)
    return strata.strata_bus_width * 16384;
  return main_block;
}

namespace {

// Lets the bus settle: rounds that read the manufacturer on both halves count one, others two.
void settle_bus() {
  for (std::uint32_t counter = 0; counter < 1000;) {
    strata_write(0, cmd_read_id);
    counter += strata_read(0) == 0x00890089 ? 1 : 2;
  }
}

// Bus width and data mask from the manufacturer code in one or both halves; false (and a
// message) when no Intel chip answers.
bool identify_bus_width() {
  strata_write(0, cmd_read_id);
  const std::uint32_t maker = strata_read(0);
  if (maker == 0x00890089) {
    strata.strata_bus_width = 4;
    strata.strata_data_mask = 0xFFFFFFFF;
  } else if ((maker & 0xFFFF) == 0x0089) {
    strata.strata_bus_width = 2;
    strata.strata_data_mask = 0xFFFF;
  } else {
    flash_error("Unknown Flash Manufacturer (0x%08x)", maker);
    return false;
  }
  return true;
}

// The device record of the chip in identifier mode, or nullptr (and a message).
const StrataDevice* identify_device() {
  const std::uint32_t code = strata_read(word_address(0, 1)) & 0xFFFF;
  for (const StrataDevice& device : strata_devices)
    if (device.id == code) return &device;
  flash_error("Unknown Flash Type (0x%08x)", code);
  return nullptr;
}

// Chip-select 0 size and write-buffer words from the CFI query data.
void read_cfi_geometry(const StrataFamily& family) {
  strata_write(0, cmd_cfi_query);
  strata.cs0_size = 1u << (strata_read(word_address(0, 0x27)) & 0x1F);
  if (family.large_buffer_by_cfi_0x1f && (strata_read(word_address(0, 0x1F)) & 0xFFFF) == 9)
    strata.strata_buffer_words = 512;
  // Never load more words than the chip's own write buffer holds (CFI: log2 of its bytes).
  const std::uint32_t buffer_log2 = strata_read(word_address(0, 0x2A)) & 0xFFFF;
  if (buffer_log2 >= 2 && buffer_log2 <= 16)
    strata.strata_buffer_words = std::min(strata.strata_buffer_words, (1u << buffer_log2) / 2);
  if (strata.strata_bus_width == 4) strata.cs0_size *= 2;
}

// Chip select 1 holds flash of the same kind when it answers with the manufacturer code.
void probe_cs1() {
  strata_write(0, cmd_read_array);
  strata_write(strata_cs1_base, cmd_read_id);
  strata.cs1_size = (strata_read(strata_cs1_base) & 0xFFFF) == 0x0089 ? strata.cs0_size : 0;
  strata.flash_total_size = strata.cs0_size + strata.cs1_size;
}

void describe_flash() {
  char line[128];
  std::snprintf(line, sizeof line,
                "Flash Type: Intel StrataFlash %s %dBit (CS0: %dMB, CS1: %dMB)\r\n",
                strata_families[strata.strata_family].name, int(strata.strata_bus_width * 8),
                int(strata.cs0_size / 1048576), int(strata.cs1_size / 1048576));
  target_description_append(line);
}

// Test mode: the first block of each chip select must erase.
int test_erase() {
  int result = 1;
  if (!strata_erase_block(0)) {
    flash_failure_notes_append("Cannot erase Flash on CS0");
    result = 0;
  }
  if (strata.cs1_size != 0 && !strata_erase_block(strata_cs1_base)) {
    flash_failure_notes_append("Cannot erase Flash on CS1");
    result = 0;
  }
  return result;
}

}  // namespace

int strata_probe() {
  if (cpu_type != cpu_pxa270) return 0;
  strata.cs0_size = strata.cs1_size = strata.flash_total_size = 0;
  // A mask or buffer size left by an earlier probe must not shape this one.
  strata.strata_data_mask = 0xFFFFFFFF;
  strata.strata_buffer_words = 32;
  strata.erased_begin = strata.erased_end = 0;

  settle_bus();
  if (!identify_bus_width()) return 0;
  const StrataDevice* device = identify_device();
  if (!device) return 0;
  strata.strata_family = device->family;
  read_cfi_geometry(strata_families[device->family]);
  probe_cs1();
  describe_flash();
  strata_write(strata_cs1_base, cmd_read_array);
  return test_mode_flag.load() ? test_erase() : 1;
}

int strata_erase_block(std::uint32_t a) {
  strata_write(a, cmd_clear_status);
  strata_write(a, cmd_read_id);
  std::uint32_t lock = strata_read(word_address(a, 2));
  if (lock & lock_bit & strata.strata_data_mask) {
    if (!flash_ask(flash_format("FlashBlock at 0x%.8x is locked, do you want to unlock?", a),
                   "WARNING"))
      return 0;
    strata_write(a, cmd_unlock);
    strata_write(a, cmd_confirm);
    strata_write(a, cmd_read_id);
    lock = strata_read(word_address(a, 2));
    if (lock & lock_bit & strata.strata_data_mask) {
      flash_error("Error Unlocking Flash (status: 0x%x)", lock);
      return 0;
    }
    clock::sleep_ms(500);
  }
  strata_write(a, cmd_clear_status);
  strata_write(a, cmd_erase);
  strata_write(a, cmd_confirm);
  strata_read(0x10000000);  // another chip-select window: the bus settles
  strata_read(a);

  const std::uint32_t start = clock::tick_ms();
  std::uint32_t status = strata_read(a);
  while (!is_ready(status)) {
    if (elapsed_since(start) > wait_limit_ms) {
      flash_error("Timeout while erasing FLASH");
      return 0;
    }
    status = strata_read(a);
  }
  if (status & status_erase_failed & strata.strata_data_mask) {
    flash_error("FlashErase returned (%x)", status);
    return 0;
  }
  strata_write(a, cmd_read_array);
  if (strata_read(a) != strata.strata_data_mask) {
    flash_error("Flash not Empty after erase");
    return 0;
  }
  return 1;
}

int strata_erase(std::uint32_t start, std::uint32_t length) {
  strata.erase_origin = start;
  if (start >= image_address_base) start = 0;
  strata.erased_begin = strata.erased_end = 0;
  const std::uint64_t end = std::uint64_t{start} + length;
  // Checked before the first block is erased: a download that cannot fit destroys nothing.
  if (end > strata.flash_total_size) {
    flash_error("Image (0x%x Bytes at Flash Offset 0x%x) Is Larger Than the Flash (0x%x Bytes)",
                length, start, strata.flash_total_size);
    return 0;
  }
  if (length == 0) return 1;
  // Every block that holds a byte of the range is erased, the one holding the start included.
  bool first = true;
  for (std::uint64_t offset = 0; offset < strata.flash_total_size;) {
    const std::uint32_t size = strata_block_size(static_cast<std::uint32_t>(offset));
    if (offset < end && offset + size > start) {
      if (!strata_erase_block(strata_bus_address(static_cast<std::uint32_t>(offset)))) return 0;
      if (first) strata.erased_begin = static_cast<std::uint32_t>(offset);
      first = false;
      strata.erased_end = static_cast<std::uint32_t>(offset + size);
    }
    offset += size;
  }
  return 1;
}

namespace {

// Asks for the write buffer at `block` until every chip grants it; false (and a message) on a
// time-out or an error status.
bool request_write_buffer(std::uint32_t block) {
  const std::uint32_t requested = clock::tick_ms();
  strata_write(block, cmd_write_buffer);
  std::uint32_t status = strata_read(block);
  while (!is_ready(status)) {
    if (elapsed_since(requested) > wait_limit_ms) {
      flash_error("Timeout while waiting for new WriteBuffer (address: 0x%x, status: 0x%x)", block,
                  status);
      return false;
    }
    strata_write(block, cmd_write_buffer);
    status = strata_read(block);
  }
  if (status != ready_bits()) {
    flash_error("Error during BufferWriteRequest (address: 0x%x, status: 0x%x)", block, status);
    return false;
  }
  return true;
}

// Waits for the programming of a confirmed buffer at `block`; false (and a message) unless it
// ends ready without an error bit.
bool await_buffer_program(std::uint32_t block) {
  const std::uint32_t ready = ready_bits();
  const std::uint32_t confirmed = clock::tick_ms();
  std::uint32_t status = strata_read(block);
  // Once every chip is ready its status no longer changes: stop polling then.
  while (status != ready && !is_ready(status) && elapsed_since(confirmed) <= wait_limit_ms)
    status = strata_read(block);
  if (status != ready) {
    flash_error("Error during BufferWrite (address: 0x%x, status: 0x%x)", block, status);
    return false;
  }
  return true;
}

}  // namespace

int strata_write_buffer(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  if (length == 0) return 1;
  const std::uint64_t begin = translate(address);
  const std::uint64_t end = begin + length;
  if (begin < strata.erased_begin || end > strata.erased_end) {
    flash_error("Flash at 0x%08x..0x%08x was not erased", unsigned(begin), unsigned(end - 1));
    return 0;
  }
  const std::uint32_t width = strata.strata_bus_width;
  const std::uint32_t chunk_bytes = width * strata.strata_buffer_words;
  const std::uint32_t count_scale = width == 4 ? 65537 : 1;
  // Chunks are aligned to the write buffer, so none crosses an erase block or a chip select;
  // each is commanded at its own address, inside its own block.
  const std::uint64_t end_words = (end + width - 1) / width * width;
  std::uint64_t word = begin - begin % width;
  while (word < end) {
    const std::uint64_t chunk_end =
        std::min<std::uint64_t>(word - word % chunk_bytes + chunk_bytes, end_words);
    const std::uint32_t n = static_cast<std::uint32_t>((chunk_end - word) / width);
    const std::uint32_t block = strata_bus_address(static_cast<std::uint32_t>(word));

    if (!request_write_buffer(block)) return 0;
    strata_write(block, (n - 1) * count_scale);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint64_t at = word + std::uint64_t{i} * width;
      strata_write(strata_bus_address(static_cast<std::uint32_t>(at)),
                   word_from(buffer, begin, end, at));
    }
    strata_write(block, cmd_confirm);
    // Fast mode polls at once: the poll is bounded by the same time and ends on the same status.
    if (!jtag_fast_programming) clock::sleep_ms(100);
    if (!await_buffer_program(block)) return 0;
    word += std::uint64_t{n} * width;
  }
  return 1;
}

namespace {

// Whether the caller's bytes in [begin, end) match the bus word read at flash offset `word`.
bool word_matches(const std::uint8_t* buffer, std::uint64_t begin, std::uint64_t end,
                  std::uint64_t word, std::uint32_t value) {
  // Compare only the caller's bytes of a partial first or last word.
  for (std::uint32_t i = 0; i < strata.strata_bus_width; ++i) {
    const std::uint64_t at = word + i;
    if (at < begin || at >= end) continue;
    if (((value >> (8 * i)) & 0xFF) != buffer[at - begin]) return false;
  }
  return true;
}

// Fast mode: the words at flash offsets [first, last) (all on one chip select, in read-array
// mode) read as a pipeline with the read strobe held. READ of word 0 drives its address with nOE
// low; each further READ captures the word driven since the previous scan and drives the next
// address; an IDLE with capture takes the last word and releases nOE. n words cost n + 1 scans
// instead of 3n. Sound on real chips because a scan of several hundred TCK cycles is far longer
// than the flash's access time from an address change, so each capture sees settled data.
bool verify_pipelined(const std::uint8_t* buffer, std::uint64_t begin, std::uint64_t end,
                      std::uint64_t first, std::uint64_t last) {
  const std::uint32_t width = strata.strata_bus_width;
  std::uint64_t word = first;
  bs_bus_cycle(bus_read, strata_bus_address(static_cast<std::uint32_t>(word)), 0, 0);
  for (; word + width < last; word += width) {
    const std::uint32_t next = strata_bus_address(static_cast<std::uint32_t>(word + width));
    const std::uint32_t value = bs_bus_cycle(bus_read, next, 0, 1) & strata.strata_data_mask;
    if (!word_matches(buffer, begin, end, word, value)) {
      bs_bus_cycle(bus_idle, next, 0, 0);  // release the read strobe
      return false;
    }
  }
  const std::uint32_t value =
      bs_bus_cycle(bus_idle, strata_bus_address(static_cast<std::uint32_t>(word)), 0, 1) &
      strata.strata_data_mask;
  return word_matches(buffer, begin, end, word, value);
}

}  // namespace

int strata_verify(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  if (length == 0) return 1;
  const std::uint64_t begin = translate(address);
  const std::uint64_t end = begin + length;
  if (end > strata.flash_total_size) return 0;
  const std::uint32_t width = strata.strata_bus_width;
  const std::uint64_t first = begin - begin % width;
  bool on_cs1 = begin >= strata.cs0_size;
  strata_write(strata_bus_address(static_cast<std::uint32_t>(first)), cmd_read_array);
  if (jtag_fast_programming) {
    // One pipeline per chip select; chip select 1 is put into read-array mode first.
    const std::uint64_t split = on_cs1 ? first : std::min<std::uint64_t>(strata.cs0_size, end);
    if (first < split && !verify_pipelined(buffer, begin, end, first, split)) return 0;
    const std::uint64_t rest = std::max(first, split);
    if (rest < end) {
      if (!on_cs1) strata_write(strata_cs1_base, cmd_read_array);
      if (!verify_pipelined(buffer, begin, end, rest, end)) return 0;
    }
    return 1;
  }
  for (std::uint64_t word = first; word < end; word += width) {
    if (!on_cs1 && word >= strata.cs0_size) {
      on_cs1 = true;
      strata_write(strata_cs1_base, cmd_read_array);
    }
    const std::uint32_t value = strata_read(strata_bus_address(static_cast<std::uint32_t>(word)));
    if (!word_matches(buffer, begin, end, word, value)) return 0;
  }
  return 1;
}

int strata_finish() {
  strata_write(0, cmd_read_array);
  strata_write(strata_cs1_base, cmd_read_array);
  return 1;
}

const FlashDriver strata_flash_driver{
    .name = "Strata Flash",
    .probe = strata_probe,
    .prepare = noop_prepare,
    .erase = strata_erase,
    .write = strata_write_buffer,
    .verify = strata_verify,
    .finish = strata_finish,
    .first_block_span = nullptr,
};

}  // namespace dz
