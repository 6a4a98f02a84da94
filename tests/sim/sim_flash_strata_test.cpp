// The StrataFlash models driven directly at their pins.
#include <gtest/gtest.h>

#include <initializer_list>

#include "platform/clock.h"
#include "sim/strata_flash.h"

namespace dz::sim {
namespace {

class StrataModel : public ::testing::Test {
 protected:
  void SetUp() override { clock::use_virtual_clock(); }
  void TearDown() override { clock::use_real_clock(); }

  // One bus write: setup (nWE high), strobe (nWE low), then the next phase raises nWE.
  static void write(StrataBank& bank, std::uint32_t address, std::uint32_t value,
                    std::uint32_t cs = 0) {
    StaticBus bus;
    bus.ncs = static_cast<std::uint8_t>(0x3F & ~(1u << cs));
    bus.address = address;
    bus.data = value;
    bus.data_driven = 0xFFFFFFFF;
    bus.rd_nwr = false;
    bank.static_bus(bus);
    bus.nwe = false;
    bank.static_bus(bus);
    bus.nwe = true;
    bank.static_bus(bus);
  }
  // Several bus writes to one address, in order (a command and its confirmation).
  static void writes(StrataBank& bank, std::uint32_t address,
                     std::initializer_list<std::uint32_t> values, std::uint32_t cs = 0) {
    for (std::uint32_t v : values) write(bank, address, v, cs);
  }
  static std::uint32_t read(StrataBank& bank, std::uint32_t address, std::uint32_t cs = 0) {
    StaticBus bus;
    bus.ncs = static_cast<std::uint8_t>(0x3F & ~(1u << cs));
    bus.address = address;
    bus.noe = false;
    bank.static_bus(bus);
    std::uint32_t mask = 0;
    const std::uint32_t v = bank.drive_data(mask);
    bus.noe = true;
    bank.static_bus(bus);
    return v & mask;
  }
  // A buffered program of `words` (16-bit bus) at byte address `a`; returns the final status.
  static std::uint32_t buffer_program(StrataBank& bank, std::uint32_t a,
                                      const std::vector<std::uint16_t>& words) {
    write(bank, a, 0xE8);
    write(bank, a, static_cast<std::uint32_t>(words.size() - 1));
    for (std::size_t i = 0; i < words.size(); ++i)
      write(bank, a + 2 * static_cast<std::uint32_t>(i), words[i]);
    write(bank, a, 0xD0);
    clock::sleep_ms(5);
    return read(bank, a);
  }
};

TEST_F(StrataModel, IdentifierAndCfiOfEachChip) {
  struct Case {
    const StrataChipType* type;
    std::uint32_t device, size_log2, buffer_log2, word_1f;
  } cases[] = {{&strata_j3_128, 0x18, 24, 5, 8},
               {&strata_k3_128, 0x8802, 24, 6, 8},
               {&strata_p30b_128, 0x881B, 24, 6, 8},
               {&strata_p30b_256_1k, 0x8922, 25, 10, 9},
               {&strata_p33b_128, 0x8821, 24, 6, 8}};
  for (const auto& c : cases) {
    StrataBank bank(*c.type, 1, 0);
    write(bank, 0, 0x90);
    EXPECT_EQ(read(bank, 0), 0x89u);
    EXPECT_EQ(read(bank, 2), c.device);
    write(bank, 0, 0x98);
    EXPECT_EQ(read(bank, 0x10 * 2), 'Q');
    EXPECT_EQ(read(bank, 0x27 * 2), c.size_log2);
    EXPECT_EQ(read(bank, 0x2A * 2), c.buffer_log2);
    EXPECT_EQ(read(bank, 0x1F * 2), c.word_1f);
    write(bank, 0, 0xFF);
    EXPECT_EQ(read(bank, 0), 0xFFFFu);
    // Nothing answers on another chip select.
    EXPECT_EQ(read(bank, 0, 1), 0u);
  }
}

TEST_F(StrataModel, BufferedProgramOnlyClearsBitsAndHonoursTheBufferSize) {
  StrataBank bank(strata_j3_128, 1, 0);
  EXPECT_EQ(buffer_program(bank, 0x100, {0x1234, 0xFF00}), 0x80u);
  write(bank, 0, 0xFF);
  EXPECT_EQ(read(bank, 0x100), 0x1234u);
  EXPECT_EQ(read(bank, 0x102), 0xFF00u);
  // A second program can only clear more bits.
  EXPECT_EQ(buffer_program(bank, 0x100, {0x00FF}), 0x80u);
  write(bank, 0, 0xFF);
  EXPECT_EQ(read(bank, 0x100), 0x0034u);
  // J3: 16 words fit, 17 are a command-sequence error and program nothing.
  EXPECT_EQ(buffer_program(bank, 0x200, std::vector<std::uint16_t>(16, 0)), 0x80u);
  const std::uint32_t status = buffer_program(bank, 0x400, std::vector<std::uint16_t>(17, 0));
  EXPECT_EQ(status & 0x30, 0x30u);
  writes(bank, 0, {0x50, 0xFF});
  EXPECT_EQ(read(bank, 0x400), 0xFFFFu);
  EXPECT_EQ(read(bank, 0x200 + 30), 0u);
  EXPECT_EQ(bank.program_word_counts(), (std::vector<std::uint32_t>{2, 1, 16}));
}

TEST_F(StrataModel, EraseTimeLockBitsPerBlockAndTheJ3ClearAll) {
  StrataBank p30(strata_p30b_128, 1, 0);
  // An erase takes its time on the virtual clock.
  buffer_program(p30, 0x20000, {0x0000});
  writes(p30, 0x20000, {0x20, 0xD0});
  EXPECT_EQ(read(p30, 0x20000) & 0x80, 0u);  // busy
  clock::sleep_ms(799);
  EXPECT_EQ(read(p30, 0x20000) & 0x80, 0u);
  clock::sleep_ms(2);
  EXPECT_EQ(read(p30, 0x20000), 0x80u);
  write(p30, 0, 0xFF);
  EXPECT_EQ(read(p30, 0x20000), 0xFFFFu);
  // Parameter blocks at the bottom: 32 KiB each.
  EXPECT_EQ(p30.block_size(0x7FFE), 0x8000u);
  EXPECT_EQ(p30.block_start(0x18000), 0x18000u);
  EXPECT_EQ(p30.block_size(0x20000), 0x20000u);

  // Lock bits.
  p30.lock_block(0x40000, true);
  write(p30, 0x40000, 0x90);
  EXPECT_EQ(read(p30, 0x40000 + 4), 1u);
  EXPECT_EQ(read(p30, 0x60000 + 4), 0u);
  writes(p30, 0x40000, {0x20, 0xD0});
  clock::sleep_ms(1000);
  EXPECT_EQ(read(p30, 0x40000), 0xA2u);  // erase error, block locked
  writes(p30, 0x40000, {0x50, 0x60, 0xD0});
  EXPECT_FALSE(p30.block_locked(0x40000));

  StrataBank j3(strata_j3_128, 1, 0);
  j3.lock_block(0, true);
  j3.lock_block(0x20000, true);
  writes(j3, 0, {0x60, 0xD0});
  EXPECT_FALSE(j3.block_locked(0x20000));  // clears every block
  EXPECT_EQ(read(j3, 0) & 0x80, 0u);       // and takes its time
}

TEST_F(StrataModel, TwoChipsFormAThirtyTwoBitBus) {
  StrataBank bank(strata_k3_128, 2, 2);
  EXPECT_EQ(bank.size(), 32u << 20);
  write(bank, 0, 0x00900090, 2);
  EXPECT_EQ(read(bank, 0, 2), 0x00890089u);
  EXPECT_EQ(read(bank, 4, 2), 0x88028802u);
  writes(bank, 0, {0x00E800E8, 0x00010001, 0x11223344}, 2);
  write(bank, 4, 0x55667788, 2);
  write(bank, 0, 0x00D000D0, 2);
  clock::sleep_ms(1);
  EXPECT_EQ(read(bank, 0, 2), 0x00800080u);
  write(bank, 0, 0x00FF00FF, 2);
  EXPECT_EQ(read(bank, 4, 2), 0x55667788u);
  EXPECT_EQ(bank.contents()[0], 0x44);
  EXPECT_EQ(bank.contents()[3], 0x11);
}

TEST_F(StrataModel, InjectedFaults) {
  StrataBank bank(strata_k3_128, 1, 0);
  bank.faults().program_error = true;
  EXPECT_EQ(buffer_program(bank, 0, {0}), 0x90u);
  write(bank, 0, 0x50);
  bank.faults().program_error = false;
  bank.faults().erase_error = true;
  writes(bank, 0, {0x20, 0xD0});
  clock::sleep_ms(1000);
  EXPECT_EQ(read(bank, 0), 0xA0u);
  write(bank, 0, 0x50);
  bank.faults().erase_error = false;
  bank.faults().stuck_busy = true;
  writes(bank, 0, {0x20, 0xD0});
  clock::sleep_ms(100000);
  EXPECT_EQ(read(bank, 0), 0x00u);
}

}  // namespace
}  // namespace dz::sim
