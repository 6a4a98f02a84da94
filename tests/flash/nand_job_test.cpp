// Downloads into the NAND modules through the job: pages, spare-area codes, the table page.
#include <algorithm>
#include <random>

#include "bscan/bus.h"
#include "flash/bad_block_table.h"
#include "flash/nand_ecc.h"
#include "tests/flash/ecc_reference.h"
#include "tests/flash/flash_fixture.h"

namespace dz::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class NandJob : public FlashJobTest {
 protected:
  // Flash bytes at a physical offset of the 8-bit large-page chip.
  std::vector<std::uint8_t> large_bytes(std::uint32_t offset, std::uint32_t n) {
    std::vector<std::uint8_t> out;
    while (out.size() < n) {
      const auto page = nand_page(offset / 2048);
      const std::uint32_t at = offset % 2048;
      const std::uint32_t take =
          std::min<std::uint32_t>(2048 - at, n - static_cast<std::uint32_t>(out.size()));
      out.insert(out.end(), page.begin() + at, page.begin() + at + take);
      offset += take;
    }
    return out;
  }
  void expect_page_code(std::uint32_t page) {
    const auto bytes = nand_page(page);
    std::uint8_t code[24];
    page_ecc_reference(bytes.data(), code);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 2048 + 40, bytes.begin() + 2048 + 64),
              std::vector<std::uint8_t>(code, code + 24))
        << "page " << page;
  }
};

TEST_F(NandJob, LargePageBootloaderSkipsTheTablePageAndCarriesCodes) {
  use_module("pxa320-nand-large");
  // The bytes are compared below; read-back through the driver is checked in the next test
  // (a verified large-page bootloader costs a quarter of a million scans).
  answer_yes_ = false;  // no table yet: build an empty one
  std::mt19937 rng(9);
  const std::uint32_t start = 0x80000000, length = 0x21000;
  std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x1000)},
                                      {start + 0x1F000, random_bytes(rng, 0x2000)}};
  EXPECT_EQ(run_image(dir_.write("eboot.bin", make_image(start, length, records))), 1);
  EXPECT_THAT(box_texts(), ElementsAre("BadBlock Table missing or corrupt. Yes: Use manufacturing "
                                       "info, No: build empty table."));
  EXPECT_THAT(target_description(),
              HasSubstr("Samsung NAND Flash: 8Bit (CS0: 128MB, CS1: 0MB)\r\n"));
  const auto expected = expected_flash(start, length, records);
  // Below the table page the image lies as it is, from there on one page higher.
  EXPECT_EQ(large_bytes(0, 0x1F800),
            std::vector<std::uint8_t>(expected.begin(), expected.begin() + 0x1F800));
  EXPECT_EQ(large_bytes(0x20000, length - 0x1F800),
            std::vector<std::uint8_t>(expected.begin() + 0x1F800, expected.end()));
  // The table page: signature, no entries, and the page code like every page.
  const auto table = nand_page(0x1F800 / 2048);
  EXPECT_THAT(std::vector<std::uint8_t>(table.begin(), table.begin() + 6),
              ElementsAre(0x4E, 0x52, 0x00, 0x00, 0xFF, 0xFF));
  for (std::uint32_t page : {0u, 1u, 62u, 63u, 64u, 66u}) expect_page_code(page);

  // A second download finds the table and asks nothing.
  EXPECT_EQ(run_image(dir_.write("eboot.bin", make_image(start, length, records))), 1);
  EXPECT_EQ(box_texts().size(), 1u);
}

TEST_F(NandJob, Pxa310BootMarkerAndTableFromFactoryMarks) {
  auto& m = use_module("pxa310-nand-large");
  for (std::uint32_t b : {5u, 9u, 2047u}) m.nand().chip(0).mark_bad(b);
  answer_yes_ = true;
  std::vector<std::uint8_t> data(0x800, 0x00);
  EXPECT_EQ(run_raw(dir_.write("eboot.nb0", data), 0x80000000), 1);
  EXPECT_THAT(large_bytes(0, 10), ElementsAre(0, 0, 0, 0, 0x48, 0x4D, 0x49, 0x54, 0, 0));
  // 2048 blocks: the reserve is the last 40; 2047 is bad there, 5 and 9 get 2046 and 2045.
  const auto table = nand_page(0x1F800 / 2048);
  EXPECT_THAT(std::vector<std::uint8_t>(table.begin(), table.begin() + 16),
              ElementsAre(0x4E, 0x52, 3, 0, 0, 0, 0xFF, 0x07, 5, 0, 0xFE, 0x07, 9, 0, 0xFD, 0x07));
  EXPECT_THAT(debug_lines(),
              Contains("INFO: Found BAD Block(2047) in the ReplacementBlocks Area\r\n"));
  EXPECT_THAT(debug_lines(), Contains("INFO: Found BAD Block(5) in the Data Area\r\n"));
  EXPECT_THAT(debug_lines(), Contains("INFO: Total BAD Blocks: 3\r\n"));

  // With the interface open again: read-back through the driver, and the dump of the table.
  ASSERT_EQ(jtag_open_cable(), 1);
  jtag_reset_tap(1);
  ASSERT_EQ(cpu_identify(), 1u);
  ASSERT_EQ(jtag_open(ui::no_window), 1);
  data[4] = 0x48, data[5] = 0x4D, data[6] = 0x49, data[7] = 0x54;
  EXPECT_EQ(jtag_verify(data.data(), 0x80000000, 0x800), 1);
  EXPECT_EQ(nand_verify(data.data(), 0, 0x800), 1);
  data[0x7FF] = 1;
  EXPECT_EQ(nand_verify(data.data(), 0, 0x800), 0);
  bbt_dump();
  jtag_close();
  EXPECT_EQ(boxes().back().caption, "Bad Block Table");
  EXPECT_EQ(boxes().back().text,
            "3 Bad Blocks\r\n0x0000 -> 0x07ff\r\n0x0005 -> 0x07fe\r\n0x0009 -> 0x07fd\r\n");
}

TEST_F(NandJob, TableFromFactoryMarksOfAThousandBlockFlash) {
  auto& m = use_module("pxa320-nand-large");  // 1024 blocks, reserve 1004..1023
  for (std::uint32_t b : {5u, 9u, 1023u}) m.nand().chip(0).mark_bad(b);
  answer_yes_ = true;
  EXPECT_EQ(run_raw(dir_.write("eboot.nb0", std::vector<std::uint8_t>(0x800, 0x5A)), 0x80000000),
            1);
  const auto table = nand_page(0x1F800 / 2048);
  EXPECT_THAT(std::vector<std::uint8_t>(table.begin(), table.begin() + 18),
              ElementsAre(0x4E, 0x52, 3, 0, 0, 0, 0xFF, 0x03, 5, 0, 0xFE, 0x03, 9, 0, 0xFD, 0x03,
                          0xFF, 0xFF));
  const auto lines = debug_lines();
  const auto at = [&](const std::string& text) {
    return std::find(lines.begin(), lines.end(), "INFO: " + text + "\r\n") - lines.begin();
  };
  // Logged in order: the reserve first, then the data area, then the total.
  EXPECT_LT(at("Found BAD Block(1023) in the ReplacementBlocks Area"),
            at("Found BAD Block(5) in the Data Area"));
  EXPECT_LT(at("Found BAD Block(5) in the Data Area"), at("Found BAD Block(9) in the Data Area"));
  EXPECT_LT(at("Found BAD Block(9) in the Data Area"), at("Total BAD Blocks: 3"));
  EXPECT_LT(at("Total BAD Blocks: 3"), static_cast<long>(lines.size()));
}

TEST_F(NandJob, ReplacementSearchStaysInsideTheReserve) {
  auto& m = use_module("pxa320-nand-large");  // 1024 blocks, reserve 1004..1023
  for (std::uint32_t b = 0; b < 30; ++b) m.nand().chip(0).mark_bad(100 + b);
  answer_yes_ = true;
  EXPECT_EQ(run_raw(dir_.write("a.nb0", std::vector<std::uint8_t>(0x800, 1)), 0x80000000), 1);
  EXPECT_EQ(bbt_count(), 20u);
  for (std::uint32_t i = 0; i < bbt_count(); ++i) EXPECT_GE(bbt_replacement(i), 1004u);
  EXPECT_THAT(debug_lines(), Contains("INFO: No replacement block left for BAD Block(120)\r\n"));
}

// A small-page page as it should hold `data` (512 bytes): the data, the chunk code in spare
// bytes 8..13, 0xFF elsewhere.
std::vector<std::uint8_t> small_page_with_code(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> page(528, 0xFF);
  std::copy(data.begin(), data.end(), page.begin());
  chunk_ecc_reference(data.data(), page.data() + 520);
  return page;
}

TEST_F(NandJob, SmallPageBootloaderWhoseRecordsSharePages) {
  auto& m = use_module("pxa300-nand-small");
  verify_after_write = 1;
  std::mt19937 rng(4);
  const std::uint32_t start = 0x80000000, length = 0x3C00;
  // As Windows CE bootloaders come: a 4-byte record at the start, an 8-byte one at +0x40, a
  // record that starts and ends inside pages, and one that ends inside the last page.
  std::vector<ImageRecord> records = {{start, random_bytes(rng, 4)},
                                      {start + 0x40, random_bytes(rng, 8)},
                                      {start + 0x123, random_bytes(rng, 0x700)},
                                      {start + 0x2000, random_bytes(rng, 0x1B00)}};
  EXPECT_EQ(run_image(dir_.write("eboot.bin", make_image(start, length, records))), 1);
  EXPECT_THAT(target_description(),
              HasSubstr("Samsung NAND Flash: 8Bit (CS0: 32MB, CS1: 0MB)\r\n"));
  EXPECT_THAT(box_texts(), ElementsAre("BadBlock Table missing or corrupt. Yes: Use manufacturing "
                                       "info, No: build empty table."));
  // Block 0 below the table page holds the image, 0xFF between the records, every page
  // programmed once with its code.
  const auto expected = expected_flash(start, 0x3E00, records);
  auto& chip = m.nand().chip(0);
  for (std::uint32_t page = 0; page < 31; ++page) {
    const std::vector<std::uint8_t> data(expected.begin() + page * 512,
                                         expected.begin() + (page + 1) * 512);
    EXPECT_EQ(nand_page(page), small_page_with_code(data)) << "page " << page;
    EXPECT_EQ(chip.page_programs(page), 1u) << "page " << page;
  }
  // The table page: an empty table, written once.
  std::vector<std::uint8_t> table(512, 0xFF);
  table[0] = 0x4E, table[1] = 0x52, table[2] = 0, table[3] = 0;
  EXPECT_EQ(nand_page(31), small_page_with_code(table));
  EXPECT_EQ(chip.page_programs(31), 1u);
  EXPECT_EQ(chip.erases(), 1u);
  EXPECT_EQ(chip.address_errors(), 0u);

  // An image at flash offset 0x1000 itself: the assembled block runs 0x3E00 bytes from there,
  // its padding over the table page and into block 1, which are left alone.
  const std::vector<ImageRecord> at_offset = {{0x1000, random_bytes(rng, 0x100)}};
  EXPECT_EQ(run_image(dir_.write("low.bin", make_image(0x1000, 0x100, at_offset))), 1);
  EXPECT_EQ(nand_page(31), small_page_with_code(table));
  EXPECT_EQ(chip.page_programs(31), 1u);
  EXPECT_FALSE(chip.page_stored(32));
  EXPECT_EQ(chip.erases(), 2u);
  std::vector<std::uint8_t> data(512, 0xFF);
  std::copy(at_offset[0].data.begin(), at_offset[0].data.end(), data.begin());
  EXPECT_EQ(nand_page(8), small_page_with_code(data));
}

TEST_F(NandJob, ImageLargerThanTheBootloaderAreaIsRefusedBeforeErasing) {
  // Small pages: block 0 below the table page, 0x3E00 bytes.
  auto& m = use_module("pxa300-nand-small");
  auto& chip = m.nand().chip(0);
  std::vector<std::uint8_t> table(528, 0xFF), data(528, 0x11);
  table[0] = 0x4E, table[1] = 0x52, table[2] = 1, table[3] = 0;  // one entry: 7 -> 2047
  table[4] = 7, table[5] = 0, table[6] = 0xFF, table[7] = 0x07;
  chip.write_page_raw(31, table.data());
  chip.write_page_raw(0, data.data());
  std::mt19937 rng(5);
  const std::uint32_t start = 0x80000000;
  const std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x3E04)}};
  EXPECT_EQ(run_image(dir_.write("eboot.bin", make_image(start, 0x3E04, records))), 0);
  EXPECT_THAT(box_texts(),
              ElementsAre("The image is larger than the NAND bootloader area (it ends at "
                          "0x00003e04, the area at 0x00003e00)",
                          "Erasing Flash\r\n"));
  EXPECT_EQ(chip.erases(), 0u);
  EXPECT_EQ(chip.programs(), 0u);
  EXPECT_EQ(nand_page(31), table);
  EXPECT_EQ(nand_page(0), data);

  // Large pages: blocks 0 and 1 less the table page, 0x3F800 bytes.
  auto& large = use_module("pxa320-nand-large");
  EXPECT_EQ(run_raw(dir_.write("big.nb0", std::vector<std::uint8_t>(0x3F801, 0x22)), 0x80000000),
            0);
  EXPECT_EQ(box_texts().end()[-2],
            "The image is larger than the NAND bootloader area (it ends at 0x0003f801, the area "
            "at 0x0003f800)");
  EXPECT_EQ(large.nand().chip(0).erases(), 0u);
  // Past the end of the flash.
  EXPECT_EQ(run_raw(dir_.write("end.nb0", std::vector<std::uint8_t>(0x1000, 0x22)), 0x7FFF800), 0);
  EXPECT_EQ(box_texts().end()[-2],
            "The image ends at NAND offset 0x08000800, beyond the end of the NAND flash "
            "(0x08000000 bytes)");
  EXPECT_EQ(large.nand().chip(0).erases(), 0u);
}

TEST_F(NandJob, FlashOfUnknownSizeIsRefusedWithItsReason) {
  // A Hynix 1 Gbit large-page chip: its ID bytes carry no size the driver reads.
  static const sim::NandChipType hynix_f1{
      "HY27UF081G2A", {0xAD, 0xF1, 0x80, 0x1D, 0x00}, 2048, 64, 64, 1024, 2, 25, 250, 2000, 4};
  module_ = std::make_unique<sim::JtagModule>(sim::CpuModel::pxa320);
  auto& chip = module_->nand().add(hynix_f1, 0, 0);
  module_->install();
  EXPECT_EQ(run_raw(dir_.write("a.nb0", std::vector<std::uint8_t>(0x800, 1)), 0x80000000), 0);
  EXPECT_THAT(box_texts(), ElementsAre("The size of this NAND flash is unknown: its ID bytes give "
                                       "none",
                                       "Erasing Flash\r\n"));
  EXPECT_EQ(chip.erases(), 0u);
}

TEST_F(NandJob, TwoChipSmallPageBusLeavesTheHighChipsBlockZeroAlone) {
  auto& m = use_module("pxa300-nand-small-x16");
  auto& low = m.nand().chip(0);
  auto& high = m.nand().chip(1);
  verify_after_write = 1;
  std::mt19937 rng(6);
  const std::uint32_t start = 0x80000000;
  const std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x801)},
                                            {start + 0x2345, random_bytes(rng, 0x100)}};
  EXPECT_EQ(run_image(dir_.write("eboot.bin", make_image(start, 0x2445, records))), 1);
  EXPECT_THAT(target_description(),
              HasSubstr("Samsung NAND Flash: 16Bit (CS0: 128MB, CS1: 0MB)\r\n"));
  // Block 0 is written byte-wide into the low chip; the table in its last page.
  const auto expected = expected_flash(start, 0x3E00, records);
  for (std::uint32_t page = 0; page < 31; ++page) {
    const std::vector<std::uint8_t> data(expected.begin() + page * 512,
                                         expected.begin() + (page + 1) * 512);
    EXPECT_EQ(nand_page(page, 0), small_page_with_code(data)) << "page " << page;
  }
  EXPECT_EQ(nand_page(31, 0)[0], 0x4E);
  // The high chip took the same page programs with 0xFF: its block 0, factory mark included,
  // is as erased.
  const std::vector<std::uint8_t> erased(528, 0xFF);
  for (std::uint32_t page = 0; page < 32; ++page)
    EXPECT_EQ(nand_page(page, 1), erased) << "page " << page;
  EXPECT_FALSE(high.bad(0));

  // From bus block 1 on, 16-bit words: even bytes on the low chip, odd bytes on the high one.
  const auto raw = random_bytes(rng, 0x400);
  EXPECT_EQ(run_raw(dir_.write("os.nb0", raw), 0x8000), 1);
  const auto lo = nand_page(32, 0), hi = nand_page(32, 1);
  for (std::uint32_t i = 0; i < 512; ++i) {
    EXPECT_EQ(lo[i], raw[2 * i]) << i;
    EXPECT_EQ(hi[i], raw[2 * i + 1]) << i;
  }
  // Nothing of the 16-bit bus lives at 0x4000..0x7FFF: refused, not dropped.
  EXPECT_EQ(run_raw(dir_.write("hole.nb0", raw), 0x4000), 0);
  EXPECT_THAT(box_texts(), Contains("NAND offsets 0x00004000 to 0x00007fff are not used on the "
                                    "16-bit NAND bus; the image starts at 0x00004000"));
  EXPECT_EQ(low.address_errors() + high.address_errors(), 0u);
}

TEST_F(NandJob, ChipSelectOneCountsRowsFromItsOwnChip) {
  auto& m = use_module("pxa320-nand-2cs");
  auto& cs0 = m.nand().chip(0);
  auto& cs1 = m.nand().chip(1);
  std::mt19937 rng(7);
  const auto data = random_bytes(rng, 0x1000);
  // Raw at flash offset 0x20000000: the first block of the chip on chip select 1.
  EXPECT_EQ(run_raw(dir_.write("cs1.nb0", data), 0x20000000), 1);
  EXPECT_THAT(target_description(),
              HasSubstr("Hynix NAND Flash: 8Bit (CS0: 512MB, CS1: 512MB)\r\n"));
  EXPECT_EQ(cs0.erases() + cs0.programs(), 0u);
  EXPECT_EQ(cs1.erases(), 1u);
  EXPECT_EQ(cs1.address_errors(), 0u);
  for (std::uint32_t page = 0; page < 2; ++page) {
    const auto bytes = nand_page(page, 1);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 2048, data.begin() + page * 2048));
  }
  // Read back through the driver on a fresh open.
  ASSERT_EQ(jtag_open_cable(), 1);
  jtag_reset_tap(1);
  ASSERT_EQ(cpu_identify(), 1u);
  ASSERT_EQ(jtag_open(ui::no_window), 1);
  EXPECT_EQ(nand_verify(data.data(), 0x20000000, 0x1000), 1);
  jtag_close();
  EXPECT_EQ(cs1.address_errors(), 0u);
}

TEST_F(NandJob, LargePageRawStreamAcrossTheTablePageProgramFaultAndEraseTimeout) {
  auto& m = use_module("pxa320-nand-large");
  std::mt19937 rng(8);
  const auto data = random_bytes(rng, 0x1000);
  // One 4 KiB piece from 0x1F000: its second page moves past the table page into block 1.
  EXPECT_EQ(run_raw(dir_.write("a.nb0", data), 0x1F000), 1);
  EXPECT_EQ(m.nand().chip(0).erases(), 2u);
  EXPECT_EQ(large_bytes(0x1F000, 0x800),
            std::vector<std::uint8_t>(data.begin(), data.begin() + 0x800));
  EXPECT_EQ(large_bytes(0x20000, 0x800),
            std::vector<std::uint8_t>(data.begin() + 0x800, data.end()));
  EXPECT_EQ(nand_page(0x1F800 / 2048)[0], 0x4E);  // the table page

  // A program fault, then an erase that never ends.
  const auto path = dir_.write("fault.nb0", std::vector<std::uint8_t>(0x800, 0x42));
  m.nand().chip(0).faults().program_fail = true;
  EXPECT_EQ(run_raw(path, 0x80040000), 0);
  EXPECT_THAT(box_texts(), Contains("Error during BufferWrite (ffc1)"));
  m.nand().chip(0).faults().program_fail = false;
  m.nand().chip(0).faults().stuck_busy = true;
  EXPECT_EQ(run_raw(path, 0x80040000), 0);
  EXPECT_THAT(box_texts(), Contains("Timeout while erasing FLASH"));
  EXPECT_EQ(box_texts().back(), "Erasing Flash\r\n");
}

TEST_F(NandJob, ProbeOrderPrefersNandAndNoFlashFailsOpen) {
  auto& m = use_module("pxa320-nand-large");
  m.add_strata(sim::strata_j3_128, 1, 0);
  EXPECT_EQ(run_raw(dir_.write("a.nb0", std::vector<std::uint8_t>(0x10, 1)), 0x80040000), 1);
  EXPECT_EQ(current_flash_driver, 0u);
  // A module without any flash: the NAND probe finds no maker, StrataFlash does not apply.
  module_ = std::make_unique<sim::JtagModule>(sim::CpuModel::pxa320);
  module_->install();
  EXPECT_EQ(run_raw(dir_.write("b.nb0", std::vector<std::uint8_t>(0x10, 1)), 0x80040000), 0);
  EXPECT_EQ(current_flash_driver, 2u);
  EXPECT_THAT(box_texts(), Contains("Unknown Flash Manufacturer (0x000000ff)"));
  EXPECT_EQ(box_texts().back(), "Initializing Interface\r\n");
}

// One chip of the given ID bytes on NAND chip select 0 of a PXA320, probed through the driver:
// the maker and device tables decide the name, the chip-select sizes or the refusal.
struct ProbeCase {
  sim::NandChipType chip;
  int found;
  const char* text;  // the target description line, or the message box
};

const ProbeCase probe_cases[] = {
    // Samsung's 4 Gbit chip is one die: its size comes from the fifth ID byte.
    {{"K9F4G08", {0xEC, 0xDC, 0x10, 0x95, 0x54}, 2048, 64, 64, 4096, 3, 25, 250, 2000, 4},
     1,
     "Samsung NAND Flash: 8Bit (CS0: 512MB, CS1: 0MB)\r\n"},
    // Other makers' are two dies, one per chip select; EON's first takes the size of its ID.
    {{"EON-DC", {0x92, 0xDC, 0x10, 0x95, 0x44}, 2048, 64, 64, 4096, 3, 25, 250, 2000, 4},
     1,
     "EON NAND Flash: 8Bit (CS0: 256MB, CS1: 512MB)\r\n"},
    {{"S34ML01G1", {0x01, 0xF1, 0x00, 0x95, 0x40}, 2048, 64, 64, 1024, 2, 25, 250, 2000, 4},
     1,
     "Spansion NAND Flash: 8Bit (CS0: 128MB, CS1: 0MB)\r\n"},
    {{"MT29F4G08", {0x2C, 0xDC, 0x90, 0x95, 0x54}, 2048, 64, 64, 4096, 3, 25, 250, 2000, 4},
     1,
     "Unknown NAND Flash: 8Bit (CS0: 512MB, CS1: 512MB)\r\n"},
    // Hynix gives no size the driver reads.
    {{"HY27UH088G2", {0xAD, 0xD3, 0x10, 0x95, 0x44}, 2048, 64, 64, 8192, 3, 25, 250, 2000, 4},
     1,
     "Hynix NAND Flash: 8Bit (CS0: 0MB, CS1: 0MB)\r\n"},
    {{"unknown", {0xEC, 0x99, 0x00, 0x95, 0x40}, 2048, 64, 64, 1024, 2, 25, 250, 2000, 4},
     0,
     "Unknown Flash Type (0x00000099)"},
};

class NandProbe : public FlashJobTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(NandProbe, MakerAndDeviceTablesDecideTheGeometry) {
  const ProbeCase& c = probe_cases[GetParam()];
  module_ = std::make_unique<sim::JtagModule>(sim::CpuModel::pxa320);
  module_->nand().add(c.chip, 0, 0);
  module_->install();
  ASSERT_EQ(jtag_open_cable(), 1);
  jtag_reset_tap(1);
  ASSERT_EQ(cpu_identify(), 1u);
  target_description_clear();  // only the flash line is of interest here
  bs_start();
  EXPECT_EQ(nand_probe(), c.found);
  jtag_close_cable();
  if (c.found)
    EXPECT_EQ(target_description(), c.text);
  else
    EXPECT_THAT(box_texts(), ElementsAre(c.text));
}

INSTANTIATE_TEST_SUITE_P(Chips, NandProbe,
                         ::testing::Range<std::size_t>(0, std::size(probe_cases)));

}  // namespace
}  // namespace dz::testing
