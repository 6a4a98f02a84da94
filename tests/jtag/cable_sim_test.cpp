// Scans through the simulated TAP on each parallel cable kind.
#include <gtest/gtest.h>

#include "jtag/cable.h"
#include "sim/tap.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

class CableOnSim : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(CableOnSim, ReadsIdcodeAfterReset) {
  SimRig rig(sim::CpuModel::pxa270, GetParam());
  ASSERT_TRUE(rig.open());
  EXPECT_EQ(rig.cpu.tap().state(), sim::TapState::run_test_idle);
  std::uint32_t id = 0;
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(id, 0x29265013u);
  EXPECT_EQ(rig.cpu.tap().state(), sim::TapState::run_test_idle);
  EXPECT_EQ(rig.cpu.tap().last_dr_shift_count(), 32u);
  EXPECT_GT(clock::now_us(), 0u);  // the port accesses took virtual time
}

TEST_P(CableOnSim, ThirtySixBitScanInPlaceThroughTheDebugRegister) {
  SimRig rig(sim::CpuModel::pxa255, GetParam());
  ASSERT_TRUE(rig.open());
  jtag_ir_length = 5;
  jtag_load_ir(9);
  EXPECT_EQ(rig.cpu.tap().selected(), sim::DataRegister::debug);
  std::uint32_t words[2] = {0x89ABCDEF, 0xF5};  // bits above 36 are not shifted
  jtag_scan_dr(words, words, 36);
  EXPECT_EQ(rig.cpu.tap().debug_register(), 0x589ABCDEFull);
  EXPECT_EQ(words[0], 0u);  // the register held 0 before
  EXPECT_EQ(words[1], 0u);
  std::uint32_t again[2] = {0x2, 0};
  jtag_scan_dr(again, again, 36);
  EXPECT_EQ(again[0], 0x89ABCDEFu);
  EXPECT_EQ(again[1], 0x5u);
  EXPECT_TRUE(rig.cpu.core_held_in_reset());
}

TEST_P(CableOnSim, ThirtyThreeBitScanThroughBypassAndIdcode) {
  SimRig rig(sim::CpuModel::pxa270, GetParam());
  ASSERT_TRUE(rig.open());
  // IDCODE register of 32 bits: bit 32 of the capture is the first bit shifted in.
  std::uint32_t words[2] = {0, 1};
  jtag_scan_dr(words, words, 33);
  EXPECT_EQ(words[0], 0x29265013u);
  EXPECT_EQ(words[1], 0u);
  jtag_ir_length = 7;
  jtag_load_ir(0x7F);  // BYPASS: one-bit delay
  EXPECT_EQ(rig.cpu.tap().selected(), sim::DataRegister::bypass);
  std::uint32_t b[2] = {0xA5A5A5A5, 1};
  jtag_scan_dr(b, b, 33);
  EXPECT_EQ(b[0], 0x4B4B4B4Au);  // shifted up by one, bypass bit 0 first
  EXPECT_EQ(b[1], 1u);           // bit 31 of the input
}

INSTANTIATE_TEST_SUITE_P(AllCables, CableOnSim, ::testing::Values(0u, 1u, 2u, 3u));

TEST(CableOnSimWiggler, TrstPulseResetsTheTapAndSrstReachesTheProcessor) {
  SimRig rig(sim::CpuModel::pxa270, 2);
  ASSERT_EQ(jtag_open_cable(), 1);
  jtag_ir_length = 7;
  jtag_load_ir(0x7F);  // wiggler_ctrl starts at 0: TRST is asserted until the lines are released
  EXPECT_EQ(rig.cpu.tap().instruction(), 0x7Eu);
  jtag_reset_tap(0);
  jtag_load_ir(0x7F);
  EXPECT_EQ(rig.cpu.tap().instruction(), 0x7Fu);
  jtag_set_reset_lines(1, 1);
  EXPECT_EQ(rig.cpu.tap().state(), sim::TapState::test_logic_reset);
  EXPECT_EQ(rig.cpu.tap().instruction(), 0x7Eu);
  EXPECT_TRUE(rig.cpu.srst());
  jtag_set_reset_lines(0, 0);
  EXPECT_FALSE(rig.cpu.srst());
}

TEST(CableOnSimMismatch, WrongCableKindReadsNoIdcode) {
  SimRig rig(sim::CpuModel::pxa270, 1);
  rig.port.set_follow_open(false);  // a Z&O cable while the program drives a Belvona one
  jtag_interface = 0;
  ASSERT_EQ(jtag_open_cable(), 1);
  jtag_reset_tap(1);
  std::uint32_t id = 0;
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_NE(id, 0x29265013u);
}

}  // namespace
}  // namespace dz::test
