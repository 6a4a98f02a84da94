// Fast programming: the same job in normal and in fast mode leaves the same bytes on every
// simulated module, in less cable time; fast verify still finds every difference.
#include <random>

#include "bscan/bus.h"
#include "tests/flash/flash_fixture.h"

namespace dz::testing {
namespace {

struct JobRun {
  std::unique_ptr<sim::JtagModule> module;
  std::uint64_t virtual_us = 0;
  std::uint64_t port_accesses = 0;
  std::vector<std::string> boxes;
};

class FastMode : public FlashJobTest, public ::testing::WithParamInterface<const char*> {
 protected:
  // A bootloader image for NOR flash; for NAND, whose bootloader area is written whole, a raw file
  // of the same bytes (pages, spare codes and the table page all the same).
  JobRun run_job(const std::string& image, const std::string& raw, bool fast) {
    ui::headless::reset();
    use_module(GetParam());
    jtag_fast_programming = fast ? 1 : 0;
    verify_after_write = 1;
    answer_yes_ = false;  // NAND: no table yet, build an empty one
    const std::uint64_t before = clock::now_us();
    const bool nand = module_->strata_banks().empty();
    EXPECT_EQ(nand ? run_raw(raw, 0x80000000) : run_image(image), 1) << (fast ? "fast" : "normal");
    JobRun r;
    r.virtual_us = clock::now_us() - before;
    r.port_accesses = module_->port().writes() + module_->port().reads();
    r.boxes = box_texts();
    port_io::release();
    r.module = std::move(module_);
    return r;
  }
};

void expect_same_flash(sim::JtagModule& normal, sim::JtagModule& fast) {
  const auto a = normal.strata_banks(), b = fast.strata_banks();
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = a[i]->contents(), y = b[i]->contents();
    EXPECT_TRUE(std::equal(x.begin(), x.end(), y.begin(), y.end())) << "bank " << i;
  }
  ASSERT_EQ(normal.nand().size(), fast.nand().size());
  for (std::size_t c = 0; c < normal.nand().size(); ++c) {
    auto& x = normal.nand().chip(c);
    auto& y = fast.nand().chip(c);
    std::vector<std::uint8_t> px(x.page_bytes()), py(y.page_bytes());
    std::uint32_t stored = 0, differing = 0;
    for (std::uint32_t p = 0; p < x.pages(); ++p) {
      ASSERT_EQ(x.page_stored(p), y.page_stored(p)) << "chip " << c << " page " << p;
      if (!x.page_stored(p)) continue;
      ++stored;
      x.read_page(p, px.data());
      y.read_page(p, py.data());
      if (px != py) ++differing;
    }
    EXPECT_EQ(differing, 0u) << "chip " << c;
    if (c == 0) {
      EXPECT_GT(stored, 0u);
    }
  }
}

TEST_P(FastMode, LeavesTheSameBytesAsNormalModeInLessCableTime) {
  std::mt19937 rng(17);
  const std::uint32_t start = 0x80000000, length = 0x1400;
  // Records of odd lengths at odd places, one crossing a 1 KiB piece boundary.
  const std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x203)},
                                            {start + 0x209, random_bytes(rng, 0x3F1)},
                                            {start + 0x801, random_bytes(rng, 0x7FF)}};
  const auto image = dir_.write("eboot.bin", make_image(start, length, records));
  const auto raw = dir_.write("nk.nb0", expected_flash(start, length, records));
  JobRun normal = run_job(image, raw, false);
  JobRun fast = run_job(image, raw, true);
  EXPECT_EQ(fast.boxes, normal.boxes);
  expect_same_flash(*normal.module, *fast.module);
  EXPECT_LT(fast.virtual_us, normal.virtual_us);
  EXPECT_LT(fast.port_accesses, normal.port_accesses);
}

std::vector<const char*> module_names() {
  std::vector<const char*> names;
  for (const auto& kind : sim::jtag_module_kinds()) names.push_back(kind.name);
  return names;
}

INSTANTIATE_TEST_SUITE_P(EveryModule, FastMode, ::testing::ValuesIn(module_names()),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

class FastVerify : public FlashJobTest {
 protected:
  // The module's flash filled with a pattern, the interface open in fast mode.
  void open_with_pattern(const char* model) {
    use_module(model);
    std::uint32_t x = 1;
    for (auto* bank : module_->strata_banks())
      for (auto& byte : bank->contents())
        byte = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    jtag_fast_programming = 1;
    ASSERT_EQ(jtag_open_cable(), 1);
    jtag_reset_tap(1);
    ASSERT_EQ(cpu_identify(), 1u);
    ASSERT_EQ(jtag_open(ui::no_window), 1);
  }
};

// Flash offsets [offset, offset + n) of the module: chip select 0 first, then chip select 1.
std::vector<std::uint8_t> flash_bytes(sim::JtagModule& m, std::uint64_t offset, std::uint32_t n) {
  std::vector<std::uint8_t> all;
  for (auto* bank : m.strata_banks())
    all.insert(all.end(), bank->contents().begin(), bank->contents().end());
  return {all.begin() + static_cast<std::ptrdiff_t>(offset),
          all.begin() + static_cast<std::ptrdiff_t>(offset + n)};
}

TEST_F(FastVerify, PipelinedReadsMatchAndFindEveryDifferenceAcrossChipSelects) {
  open_with_pattern("pxa270-k3x32-cs1");
  const std::uint64_t cs0 = module_->strata_banks()[0]->size();
  // Odd start and length, crossing from chip select 0 into chip select 1.
  const std::uint64_t offset = cs0 - 0x25;
  const std::uint32_t n = 0x4B;
  auto data = flash_bytes(*module_, offset, n);
  EXPECT_EQ(strata_verify(data.data(), static_cast<std::uint32_t>(offset), n), 1);
  // The first byte, one each side of the chip-select boundary, and the last byte.
  for (std::uint32_t at : {0u, 0x24u, 0x25u, n - 1}) {
    data[at] ^= 0x40;
    EXPECT_EQ(strata_verify(data.data(), static_cast<std::uint32_t>(offset), n), 0) << at;
    // The read strobe is released even when the compare stops early.
    EXPECT_TRUE(module_->cpu().static_bus().noe) << at;
    data[at] ^= 0x40;
  }
  const auto scans = module_->cpu().tap().boundary_updates();
  EXPECT_EQ(strata_verify(data.data(), static_cast<std::uint32_t>(offset), n), 1);
  // Per chip select: read array (two scans), then 10 words in 11 scans.
  EXPECT_EQ(module_->cpu().tap().boundary_updates() - scans, 2u * (2 + 10 + 1));
  jtag_close();
}

}  // namespace
}  // namespace dz::testing
