// The NAND models driven directly at the NAND port pins.
#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "platform/clock.h"
#include "sim/nand_flash.h"

namespace dz::sim {
namespace {

class NandModel : public ::testing::Test {
 protected:
  void SetUp() override { clock::use_virtual_clock(); }
  void TearDown() override { clock::use_real_clock(); }

  NandPort idle(std::uint32_t cs) const {
    NandPort p;
    p.ncs0 = cs != 0;
    p.ncs1 = cs != 1;
    return p;
  }
  // One latched cycle: nWE low with the value on both lanes, then nWE high with the bus released.
  void cycle(NandArray& a, bool cle, bool ale, std::uint16_t value, std::uint32_t cs = 0) {
    NandPort p = idle(cs);
    p.cle = cle, p.ale = ale, p.nwe = false, p.data = value, p.data_driven = 0xFFFF;
    a.nand_port(p);
    p.nwe = true, p.data_driven = 0;
    a.nand_port(p);
  }
  void command(NandArray& a, std::uint8_t c, std::uint32_t cs = 0) {
    cycle(a, true, false, static_cast<std::uint16_t>(c * 0x101), cs);
  }
  void address(NandArray& a, std::uint8_t b, std::uint32_t cs = 0) {
    cycle(a, false, true, static_cast<std::uint16_t>(b * 0x101), cs);
  }
  std::uint16_t read(NandArray& a, std::uint32_t cs = 0) {
    NandPort p = idle(cs);
    p.nre = false;
    a.nand_port(p);
    std::uint32_t mask = 0;
    const std::uint32_t v = a.drive_data(mask);
    p.nre = true;
    a.nand_port(p);
    return static_cast<std::uint16_t>((v & mask) | (~mask & 0xFFFF));
  }
  void large_address(NandArray& a, std::uint32_t column, std::uint32_t row, std::uint32_t rows,
                     std::uint32_t cs = 0) {
    address(a, column & 0xFF, cs);
    address(a, (column >> 8) & 0x0F, cs);
    for (std::uint32_t i = 0; i < rows; ++i) address(a, (row >> (8 * i)) & 0xFF, cs);
  }
  void addresses(NandArray& a, std::initializer_list<std::uint8_t> bytes, std::uint32_t cs = 0) {
    for (std::uint8_t b : bytes) address(a, b, cs);
  }
  void wait_ready(NandArray& a) {
    for (int i = 0; i < 10000 && !a.ready(); ++i) clock::sleep_ms(1);
    ASSERT_TRUE(a.ready());
  }
  // Confirms an operation with command `c`, waits for the chip and reads its status byte.
  std::uint16_t confirm(NandArray& a, std::uint8_t c, std::uint32_t cs = 0) {
    command(a, c, cs);
    wait_ready(a);
    command(a, 0x70, cs);
    return read(a, cs) & 0xFF;
  }
};

TEST_F(NandModel, IdBytesOnOneLaneAndOnTwo) {
  NandArray one;
  one.add(nand_samsung_f1, 0, 0);
  command(one, 0x90);
  address(one, 0);
  EXPECT_EQ(read(one), 0xFFECu);  // the high lane floats to the pull-up
  EXPECT_EQ(read(one) & 0xFF, 0xF1u);
  read(one);
  EXPECT_EQ(read(one) & 0xFF, 0x95u);
  EXPECT_EQ(read(one) & 0xFF, 0x40u);

  NandArray two;
  two.add(nand_samsung_76, 0, 0);
  two.add(nand_samsung_76, 0, 1);
  command(two, 0x90);
  address(two, 0);
  EXPECT_EQ(read(two), 0xECECu);
  EXPECT_EQ(read(two), 0x7676u);
  // Not selected: nobody drives.
  command(two, 0x90, 1);
  address(two, 0, 1);
  EXPECT_EQ(read(two, 1), 0xFFFFu);
}

TEST_F(NandModel, LargePageProgramReadEraseWithSpareAndStatus) {
  NandArray a;
  NandChip& chip = a.add(nand_samsung_f1, 0, 0);
  command(a, 0x80);
  large_address(a, 0, 70, 2);
  for (int i = 0; i < 2048; ++i) cycle(a, false, false, static_cast<std::uint16_t>(i & 0xFF));
  for (int i = 0; i < 64; ++i) cycle(a, false, false, static_cast<std::uint16_t>(0xA0 + (i & 0xF)));
  command(a, 0x10);
  EXPECT_FALSE(a.ready());
  wait_ready(a);
  command(a, 0x70);
  EXPECT_EQ(read(a) & 0xFF, 0xC0u);
  EXPECT_EQ(chip.programs(), 1u);

  command(a, 0x00);
  large_address(a, 2046, 70, 2);
  command(a, 0x30);
  wait_ready(a);
  EXPECT_EQ(read(a) & 0xFF, 0xFEu);
  EXPECT_EQ(read(a) & 0xFF, 0xFFu);
  EXPECT_EQ(read(a) & 0xFF, 0xA0u);  // the spare follows the data
  // The spare area directly (column 2048 + 3).
  command(a, 0x00);
  large_address(a, 2048 + 3, 70, 2);
  command(a, 0x30);
  wait_ready(a);
  EXPECT_EQ(read(a) & 0xFF, 0xA3u);

  // Programming again only clears bits.
  command(a, 0x80);
  large_address(a, 0, 70, 2);
  cycle(a, false, false, 0x0F);
  command(a, 0x10);
  wait_ready(a);
  std::vector<std::uint8_t> page(2112);
  chip.read_page(70, page.data());
  EXPECT_EQ(page[0], 0x00);
  EXPECT_EQ(page[1], 0x01);

  // Erase of block 1 (pages 64..127) empties page 70.
  command(a, 0x60);
  addresses(a, {70, 0});
  command(a, 0xD0);
  EXPECT_FALSE(a.ready());
  wait_ready(a);
  EXPECT_FALSE(chip.page_stored(70));
}

TEST_F(NandModel, SmallPagePointersFactoryMarksAndPartialProgramCount) {
  NandArray a;
  NandChip& chip = a.add(nand_samsung_75, 0, 0);
  chip.mark_bad(3);
  EXPECT_TRUE(chip.bad(3));
  // Read the spare of page 96 (block 3) from byte 5: the factory mark.
  command(a, 0x50);
  addresses(a, {5, 96, 0});
  wait_ready(a);
  EXPECT_EQ(read(a) & 0xFF, 0x00u);
  // Second half pointer: column 256 + 4 of page 0.
  command(a, 0x00);
  command(a, 0x80);
  addresses(a, {0, 0, 0});
  for (int i = 0; i < 512; ++i) cycle(a, false, false, static_cast<std::uint16_t>(i >> 1));
  command(a, 0x10);
  wait_ready(a);
  command(a, 0x01);
  addresses(a, {4, 0, 0});
  wait_ready(a);
  EXPECT_EQ(read(a) & 0xFF, (256 + 4) >> 1);
  // A bad block refuses erase: the status carries the failure bit and the mark stays.
  command(a, 0x60);
  addresses(a, {96, 0});
  EXPECT_EQ(confirm(a, 0xD0) & 0x01, 0x01u);
  std::vector<std::uint8_t> page(528);
  chip.read_page(96, page.data());
  EXPECT_EQ(page[512 + 5], 0x00);

  // Two programs per page of block 0 until it is erased.
  const auto program = [&](std::uint8_t column, std::uint8_t value) {
    command(a, 0x00);
    command(a, 0x80);
    addresses(a, {column, 1, 0});
    cycle(a, false, false, value);
    return confirm(a, 0x10) & 0x01;
  };
  EXPECT_EQ(program(0, 0x11), 0u);
  EXPECT_EQ(program(1, 0x22), 0u);
  EXPECT_EQ(program(2, 0x33), 1u);  // the third is refused
  EXPECT_EQ(chip.page_programs(1), 3u);
  EXPECT_EQ(chip.program_count_errors(), 1u);
  chip.read_page(1, page.data());
  EXPECT_EQ(page[0], 0x11);
  EXPECT_EQ(page[1], 0x22);
  EXPECT_EQ(page[2], 0xFF);
  // An erase of the block starts the count again.
  command(a, 0x60);
  addresses(a, {0, 0});
  command(a, 0xD0);
  wait_ready(a);
  EXPECT_EQ(chip.page_programs(1), 0u);
  EXPECT_EQ(program(2, 0x33), 0u);
}

TEST_F(NandModel, AddressBitsTheChipDoesNotHaveAreRefused) {
  NandArray a;
  NandChip& chip = a.add(nand_hynix_dc, 0, 0);  // 262144 pages: row bits 18 and up must be 0
  const auto program = [&](std::uint32_t column, std::uint32_t row) {
    command(a, 0x80);
    addresses(a, {static_cast<std::uint8_t>(column), static_cast<std::uint8_t>(column >> 8)});
    for (std::uint32_t i = 0; i < 3; ++i) address(a, (row >> (8 * i)) & 0xFF);
    cycle(a, false, false, 0x5A);
    return confirm(a, 0x10);
  };
  EXPECT_EQ(program(0, 0x40000), 0xC1u);  // one past the last page
  EXPECT_EQ(chip.address_errors(), 1u);
  EXPECT_FALSE(chip.page_stored(0));
  EXPECT_EQ(program(0, 0x3FFFF), 0xC0u);  // the last page
  EXPECT_TRUE(chip.page_stored(0x3FFFF));
  EXPECT_EQ(program(0x1000, 5), 0xC1u);  // column bit 12 set
  EXPECT_EQ(program(2112, 5), 0xC1u);    // past the spare
  EXPECT_FALSE(chip.page_stored(5));
  EXPECT_EQ(chip.address_errors(), 3u);
  // A read of such an address delivers no page.
  command(a, 0x00);
  large_address(a, 0, 0x3FFFF | 0x40000, 3);
  command(a, 0x30);
  wait_ready(a);
  EXPECT_EQ(read(a) & 0xFF, 0x00u);
  // An erase likewise fails and keeps the page.
  command(a, 0x60);
  addresses(a, {0xFF, 0xFF, 0x07});
  EXPECT_EQ(confirm(a, 0xD0), 0xC1u);
  EXPECT_TRUE(chip.page_stored(0x3FFFF));
  EXPECT_EQ(chip.address_errors(), 5u);

  // Small pages with three row cycles (131072 pages): only bit 0 of the third is used.
  NandArray s;
  NandChip& small = s.add(nand_samsung_76, 0, 0);
  command(s, 0x00);
  command(s, 0x80);
  addresses(s, {0, 0, 0, 2});
  cycle(s, false, false, 0x00);
  EXPECT_EQ(confirm(s, 0x10) & 0x01, 0x01u);
  EXPECT_EQ(small.address_errors(), 1u);
}

TEST_F(NandModel, InjectedFaultsAndChipSelects) {
  NandArray a;
  NandChip& c0 = a.add(nand_hynix_dc, 0, 0);
  NandChip& c1 = a.add(nand_hynix_dc, 1, 0);
  c1.faults().program_fail = true;
  command(a, 0x80, 1);
  large_address(a, 0, 5, 3, 1);
  cycle(a, false, false, 0x00, 1);
  EXPECT_EQ(confirm(a, 0x10, 1), 0xC1u);
  EXPECT_FALSE(c1.page_stored(5));
  EXPECT_EQ(c0.programs(), 0u);
  c0.faults().stuck_busy = true;
  command(a, 0x60);
  addresses(a, {0, 0, 0});
  command(a, 0xD0);
  clock::sleep_ms(60000);
  EXPECT_FALSE(a.ready());
  command(a, 0x70);
  EXPECT_EQ(read(a) & 0xFF, 0x80u);
}

}  // namespace
}  // namespace dz::sim
