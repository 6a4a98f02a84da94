// Downloads into the StrataFlash modules through the job, compared byte for byte.
#include <random>

#include "tests/flash/flash_fixture.h"

namespace dz::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class StrataJob : public FlashJobTest {
 protected:
  std::vector<std::uint8_t> bank_bytes(std::size_t bank, std::uint32_t offset, std::size_t n) {
    auto banks = module_->strata_banks();
    auto c = banks.at(bank)->contents();
    return {c.begin() + offset, c.begin() + offset + n};
  }
};

struct StrataCase {
  const char* model;
  const char* line;
  std::uint32_t buffer_words;
};

class StrataModels : public StrataJob, public ::testing::WithParamInterface<StrataCase> {};

TEST_P(StrataModels, BootloaderWithVerifyLandsByteForByte) {
  const auto& param = GetParam();
  use_module(param.model);
  verify_after_write = 1;
  std::mt19937 rng(42);
  const std::uint32_t start = 0x80000000, length = 0x1800;
  // Records of odd lengths at odd places, one crossing a 1 KiB piece boundary.
  std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x403)},
                                      {start + 0x409, random_bytes(rng, 0x5F1)},
                                      {start + 0x1001, random_bytes(rng, 0x7FF)}};
  const auto path = dir_.write("eboot.bin", make_image(start, length, records));
  EXPECT_EQ(run_image(path), 1);
  EXPECT_THAT(box_texts(), ElementsAre());
  EXPECT_EQ(bank_bytes(0, 0, length), expected_flash(start, length, records));
  EXPECT_EQ(bank_bytes(0, length, 64), std::vector<std::uint8_t>(64, 0xFF));
  EXPECT_THAT(target_description(), HasSubstr(param.line));
  const auto counts = module_->strata_banks()[0]->program_word_counts();
  ASSERT_FALSE(counts.empty());
  EXPECT_EQ(*std::max_element(counts.begin(), counts.end()), param.buffer_words);
}

INSTANTIATE_TEST_SUITE_P(
    Models, StrataModels,
    ::testing::Values(
        StrataCase{"pxa270-j3x16",
                   "Flash Type: Intel StrataFlash J3 16Bit (CS0: 16MB, CS1: 0MB)\r\n", 16},
        StrataCase{"pxa270-k3x32-cs1",
                   "Flash Type: Intel StrataFlash K3 32Bit (CS0: 32MB, CS1: 32MB)\r\n", 32},
        StrataCase{"pxa270-p30x16",
                   "Flash Type: Intel StrataFlash P30(B) 16Bit (CS0: 16MB, CS1: 0MB)\r\n", 32},
        StrataCase{"pxa270-p30x16-1k",
                   "Flash Type: Intel StrataFlash P30(B) 16Bit (CS0: 32MB, CS1: 0MB)\r\n", 512},
        StrataCase{"pxa270-p33x16",
                   "Flash Type: Intel StrataFlash P33(B) 16Bit (CS0: 16MB, CS1: 0MB)\r\n", 32}),
    [](const auto& info) {
      std::string n = info.param.model;
      std::replace(n.begin(), n.end(), '-', '_');
      return n;
    });

TEST_F(StrataJob, RawFilesStreamIntoFlashErasingWholeBlocks) {
  use_module("pxa270-j3x16");
  std::mt19937 rng(1);
  const auto data = random_bytes(rng, 5001);
  const auto path = dir_.write("nk.nb0", data);
  EXPECT_EQ(run_raw(path, 0x80000000), 1);
  EXPECT_EQ(bank_bytes(0, 0, data.size()), data);
  EXPECT_EQ(bank_bytes(0, 5001, 3), std::vector<std::uint8_t>(3, 0xFF));  // padding stays erased

  // An erase that starts inside a block erases that block.
  auto c = module_->strata_banks()[0]->contents();
  std::fill(c.begin(), c.begin() + 0x40000, 0x00);  // old contents everywhere
  const auto part = random_bytes(rng, 0x300);
  EXPECT_EQ(run_raw(dir_.write("part.bin", part), 0x20100), 1);
  EXPECT_EQ(bank_bytes(0, 0x20100, part.size()), part);
  EXPECT_EQ(bank_bytes(0, 0x200FF, 1), std::vector<std::uint8_t>{0xFF});
  EXPECT_EQ(bank_bytes(0, 0x1FFFF, 1), std::vector<std::uint8_t>{0x00});  // block 0 untouched
}

TEST_F(StrataJob, KThreeOnBothChipSelectsAndAFixedIpNextToAShortFirstRecord) {
  use_module("pxa270-k3x32-cs1");
  std::mt19937 rng(3);
  const std::uint32_t cs0 = 32u << 20;
  const auto data = random_bytes(rng, 0x1000);
  // Flash offsets run on from the end of chip select 0 into the bank at 0x08000000.
  EXPECT_EQ(run_raw(dir_.write("big.nb0", data), cs0 - 0x800), 1);
  EXPECT_EQ(bank_bytes(0, cs0 - 0x800, 0x800),
            std::vector<std::uint8_t>(data.begin(), data.begin() + 0x800));
  EXPECT_EQ(bank_bytes(1, 0, 0x800), std::vector<std::uint8_t>(data.begin() + 0x800, data.end()));

  // With Fix IP, a first record shorter than 12 bytes directly followed by the next one: every
  // byte is programmed once, so the settings and the data both arrive intact without Verify.
  fix_ip = 1;
  fixed_ip = 0x0A000203;
  fixed_subnet = 0xFFFF0000;
  const std::vector<ImageRecord> boot = {{0x80000000, {0x10, 0x20, 0x30, 0x40, 0x50, 0x60}},
                                         {0x80000006, random_bytes(rng, 0x3A)}};
  ASSERT_EQ(run_image(dir_.write("eboot.bin", make_image(0x80000000, 0x40, boot))), 1);
  auto expected = expected_flash(0x80000000, 0x40, boot);
  const std::uint8_t settings[8] = {10, 0, 2, 3, 255, 255, 0, 0};
  std::copy(std::begin(settings), std::end(settings), expected.begin() + 4);
  EXPECT_EQ(bank_bytes(0, 0, 0x40), expected);
  EXPECT_THAT(box_texts(), ElementsAre());
}

TEST_F(StrataJob, LockedBlockAsksAndHonoursTheAnswer) {
  auto& m = use_module("pxa270-p30x16");
  m.strata_banks()[0]->lock_all(true);
  const auto path = dir_.write("a.nb0", std::vector<std::uint8_t>(0x100, 0x5A));
  answer_yes_ = false;
  EXPECT_EQ(run_raw(path, 0x80000000), 0);
  EXPECT_THAT(box_texts(), ElementsAre("FlashBlock at 0x00000000 is locked, do you want to unlock?",
                                       "Erasing Flash\r\n"));
  EXPECT_EQ(boxes()[0].caption, "WARNING");
  EXPECT_TRUE(m.strata_banks()[0]->block_locked(0));

  answer_yes_ = true;
  EXPECT_EQ(run_raw(path, 0x80000000), 1);
  EXPECT_FALSE(m.strata_banks()[0]->block_locked(0));
  EXPECT_EQ(bank_bytes(0, 0, 0x100), std::vector<std::uint8_t>(0x100, 0x5A));
}

TEST_F(StrataJob, FaultsGiveTheirMessagesAndFailTheJob) {
  auto& m = use_module("pxa270-j3x16");
  auto& faults = m.strata_banks()[0]->faults();
  const auto path = dir_.write("a.nb0", std::vector<std::uint8_t>(0x100, 0x11));
  verify_after_write = 1;
  const auto image = dir_.write(
      "a.bin",
      make_image(0x80000000, 0x100, {{0x80000000, std::vector<std::uint8_t>(0x100, 0x11)}}));

  faults.erase_error = true;
  EXPECT_EQ(run_raw(path, 0x80000000), 0);
  EXPECT_THAT(box_texts(), ElementsAre("FlashErase returned (a0)", "Erasing Flash\r\n"));
  faults.erase_error = false;

  faults.program_error = true;
  EXPECT_EQ(run_image(image), 0);
  EXPECT_THAT(box_texts(), Contains("Error during BufferWrite (address: 0x0, status: 0x90)"));
  EXPECT_EQ(box_texts().back(), "Writing Flash\r\n");
  faults.program_error = false;

  faults.stuck_busy = true;
  EXPECT_EQ(run_raw(path, 0x80000000), 0);
  EXPECT_THAT(box_texts(), Contains("Timeout while erasing FLASH"));
  EXPECT_EQ(box_texts().back(), "Erasing Flash\r\n");
}

TEST_F(StrataJob, RangeBeyondTheFlashIsRefusedWithItsReasonBeforeAnyErase) {
  auto& m = use_module("pxa270-j3x16");
  auto c = m.strata_banks()[0]->contents();
  std::fill(c.end() - 0x40000, c.end(), 0x00);  // old contents in the last two blocks
  const auto path = dir_.write("a.nb0", std::vector<std::uint8_t>(0x200, 0x11));
  EXPECT_EQ(run_raw(path, (16u << 20) - 0x100), 0);
  EXPECT_THAT(box_texts(), ElementsAre("Image (0x200 Bytes at Flash Offset 0xffff00) Is Larger "
                                       "Than the Flash (0x1000000 Bytes)",
                                       "Erasing Flash\r\n"));
  EXPECT_EQ(bank_bytes(0, (16u << 20) - 0x40000, 0x40000), std::vector<std::uint8_t>(0x40000, 0));
  // Ending exactly at the end is fine.
  EXPECT_EQ(run_raw(path, (16u << 20) - 0x200), 1);
  EXPECT_EQ(bank_bytes(0, (16u << 20) - 0x200, 0x200), std::vector<std::uint8_t>(0x200, 0x11));
}

// A bootloader is in flash; every file that cannot be downloaded is refused with its reason, and
// the bootloader is still there, byte for byte.
TEST_F(StrataJob, RefusedFilesLeaveTheOldBootloaderInPlace) {
  auto& m = use_module("pxa270-j3x16");
  std::mt19937 rng(11);
  const std::uint32_t start = 0x80000000, length = 0x3000;
  const std::vector<ImageRecord> boot = {{start, random_bytes(rng, 0x1800)},
                                         {start + 0x2000, random_bytes(rng, 0x1000)}};
  const auto good = make_image(start, length, boot);
  ASSERT_EQ(run_image(dir_.write("eboot.bin", good)), 1);
  const std::vector<std::uint8_t> before(m.strata_banks()[0]->contents().begin(),
                                         m.strata_banks()[0]->contents().begin() + 0x40000);
  ASSERT_EQ(std::vector<std::uint8_t>(before.begin(), before.begin() + length),
            expected_flash(start, length, boot));

  std::vector<ImageRecord> many;
  for (std::uint32_t i = 0; i < 257; ++i) many.push_back({start + i * 4, {1, 2, 3, 4}});
  struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string reason;
    int is_raw = 0;
  };
  const std::vector<Case> cases = {
      {"cut.bin", std::vector<std::uint8_t>(good.begin(), good.end() - 0x800),
       "Image File Is Truncated"},
      {"many.bin", make_image(start, 257 * 4, many),
       "Image File Has Too Many Records (more than 256)"},
      {"outside.bin", make_image(start, 0x100, {{start, {1}}, {start + 0x3000, {2}}}),
       "Image Record at 0x80003000 (Length 0x00000001) Lies Outside the Image"},
      {"header.bin", make_image(start, 0x100, {}, 0, false), "Image File Has No Records"},
      {"overlap.bin",
       make_image(start, 0x100,
                  {{start, std::vector<std::uint8_t>(0x40, 0x0F)},
                   {start + 0x20, std::vector<std::uint8_t>(0x40, 0xF0)}}),
       "Image Records at 0x80000000 (Length 0x00000040) and 0x80000020 (Length 0x00000040) "
       "Overlap"},
      {"wrap.bin", make_image(0xFFFFF000, 0x1000, {{0xFFFFFF00, random_bytes(rng, 0x200)}}),
       "Image Record at 0xffffff00 (Length 0x00000200) Runs Past the End of the Address Space"},
      {"term.bin", make_image(start, length, {}), "Image File Contains No Data"},
      {"empty.nb0", {}, "Image File Is Empty (%s)", 1},
      {"big.bin", make_image(start, 17u << 20, {{start, {1, 2, 3}}}),
       "Image (0x1100000 Bytes at Flash Offset 0x0) Is Larger Than the Flash (0x1000000 Bytes)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir_.write(c.name, c.bytes);
    EXPECT_EQ(c.is_raw ? run_raw(path, start) : run_image(path), 0);
    std::string reason = c.reason;
    if (const auto at = reason.find("%s"); at != std::string::npos) reason.replace(at, 2, path);
    EXPECT_THAT(box_texts(), Contains(::testing::StartsWith(reason)));
    const auto& now = m.strata_banks()[0]->contents();
    ASSERT_TRUE(std::equal(before.begin(), before.end(), now.begin()));
  }
}

}  // namespace
}  // namespace dz::testing
