// Downloads into the NAND modules through the job: pages, spare-area codes, the table page.
#include <algorithm>
#include <random>

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

TEST_F(NandJob, SmallPageImageWithChunkCodes) {
  use_module("pxa300-nand-small");
  verify_after_write = 1;
  std::mt19937 rng(4);
  const std::uint32_t start = 0x80000000;
  // Records start on pages; the last ends inside one.
  std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x600)},
                                      {start + 0x4000, random_bytes(rng, 0x333)}};
  EXPECT_EQ(run_image(dir_.write("nk.bin", make_image(start, 0x4400, records))), 1);
  EXPECT_THAT(target_description(),
              HasSubstr("Samsung NAND Flash: 8Bit (CS0: 32MB, CS1: 0MB)\r\n"));
  for (std::uint32_t page : {0u, 2u, 32u, 33u}) {
    const auto bytes = nand_page(page);
    const std::uint32_t offset = page * 512;
    const auto& r = offset < 0x4000 ? records[0] : records[1];
    const std::uint32_t at = offset - (r.address - start);
    std::vector<std::uint8_t> data(512, 0xFF);
    for (std::uint32_t i = 0; i < 512 && at + i < r.data.size(); ++i) data[i] = r.data[at + i];
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 512), data) << page;
    std::uint8_t code[6];
    chunk_ecc_reference(data.data(), code);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 520, bytes.begin() + 526),
              std::vector<std::uint8_t>(code, code + 6));
  }
}

TEST_F(NandJob, WriteIntoAnAlreadyProgrammedPageFailsLoudly) {
  use_module("pxa300-nand-small");
  const std::uint32_t start = 0x80000000;
  // Two records share page 0: the second would need the page programmed twice.
  std::vector<ImageRecord> records = {{start, std::vector<std::uint8_t>(0x100, 1)},
                                      {start + 0x100, std::vector<std::uint8_t>(0x100, 2)}};
  EXPECT_EQ(run_image(dir_.write("nk.bin", make_image(start, 0x200, records))), 0);
  EXPECT_THAT(box_texts(), Contains("NAND page at 0x00000000 is already programmed"));
  EXPECT_EQ(box_texts().back(), "Writing Flash\r\n");
}

TEST_F(NandJob, ProgramFaultAndEraseTimeout) {
  auto& m = use_module("pxa320-nand-large");
  answer_yes_ = false;
  const auto path = dir_.write("a.nb0", std::vector<std::uint8_t>(0x800, 0x42));
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
  m.add_strata(sim::strata_j3_128(), 1, 0);
  EXPECT_EQ(run_raw(dir_.write("a.nb0", std::vector<std::uint8_t>(0x10, 1)), 0x80040000), 1);
  EXPECT_EQ(current_flash_driver, 0u);
  // A module without any flash: the NAND probe finds no maker, StrataFlash does not apply.
  use_module("pxa320-nand-large");
  module_.reset();
  std::string error;
  module_ = std::make_unique<sim::JtagModule>(sim::CpuModel::pxa320);
  module_->install();
  EXPECT_EQ(run_raw(dir_.write("b.nb0", std::vector<std::uint8_t>(0x10, 1)), 0x80040000), 0);
  EXPECT_EQ(current_flash_driver, 2u);
  EXPECT_THAT(box_texts(), Contains("Unknown Flash Manufacturer (0x000000ff)"));
  EXPECT_EQ(box_texts().back(), "Initializing Interface\r\n");
}

}  // namespace
}  // namespace dz::testing
