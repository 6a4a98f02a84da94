// Scans through the simulated TAP on each parallel cable kind.
#include <gtest/gtest.h>

#include "jtag/cable.h"
#include "sim/tap.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

class CableOnSim : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(CableOnSim, ReadsIdcodeAfterResetAndThirtyThreeBitsThroughIdcodeAndBypass) {
  SimRig rig(sim::CpuModel::pxa270, GetParam());
  ASSERT_TRUE(rig.open());
  EXPECT_EQ(rig.cpu.tap().state(), sim::TapState::run_test_idle);
  std::uint32_t id = 0;
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(id, 0x29265013u);
  EXPECT_EQ(rig.cpu.tap().state(), sim::TapState::run_test_idle);
  EXPECT_EQ(rig.cpu.tap().last_dr_shift_count(), 32u);
  EXPECT_GT(clock::now_us(), 0u);  // the port accesses took virtual time
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

TEST(CableOnSimPower, ModuleSwitchedOnMidSequenceIsOutOfStepUntilTheTapIsReset) {
  SimRig rig(sim::CpuModel::pxa270, 0);
  rig.port.switch_on_late(1);
  // Off during the first open: no clocks reach it and TDO reads low.
  ASSERT_TRUE(rig.open());
  EXPECT_FALSE(rig.cpu.powered());
  std::uint32_t id = 0xFFFFFFFF;
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(rig.cpu.tap().tck_cycles(), 0u);
  jtag_close_cable();
  // Switched on as the second open begins: the TAP wakes in Test-Logic-Reset with IDCODE, while
  // the cable believes it rests in Run-Test/Idle.
  ASSERT_EQ(jtag_open_cable(), 1);
  EXPECT_TRUE(rig.cpu.powered());
  EXPECT_EQ(rig.cpu.tap().state(), sim::TapState::test_logic_reset);
  EXPECT_EQ(rig.cpu.tap().instruction(), 0x7Eu);
  // Without a TAP reset the scan walks the wrong path: it ends in Capture-IR, and the next one
  // loads the captured ...01 as the instruction (SAMPLE/PRELOAD), so the boundary cells answer.
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_NE(id, 0x29265013u);
  EXPECT_EQ(rig.cpu.tap().state(), sim::TapState::capture_ir);
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(rig.cpu.tap().instruction(), 1u);
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(rig.cpu.tap().selected(), sim::DataRegister::boundary);
  EXPECT_NE(id, 0x29265013u);
  // Five TMS=1 clocks bring it back in step.
  EXPECT_EQ(jtag_reset_tap(0), 1);
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(id, 0x29265013u);
}

TEST(CableOnSimPower, HeldTrstKeepsTheTapInResetAndPowerUpClearsTheDebugRegister) {
  sim::Pxa cpu(sim::CpuModel::pxa270);
  sim::Tap& tap = cpu.tap();
  tap.clock(false, false);  // Run-Test/Idle
  cpu.set_trst(true);
  EXPECT_EQ(tap.state(), sim::TapState::test_logic_reset);
  for (int i = 0; i < 4; ++i) cpu.set_jtag_pins(i % 2 == 0, false, false);
  EXPECT_EQ(tap.state(), sim::TapState::test_logic_reset);  // TCK ignored while held
  cpu.set_trst(false);
  tap.clock(false, false);
  EXPECT_EQ(tap.state(), sim::TapState::run_test_idle);
  // Load instruction 9 and a debug value that holds the core in reset.
  for (bool tms : {true, true, false, false}) tap.clock(tms, false);
  for (int i = 0; i < 7; ++i) tap.clock(i == 6, (9 >> i) & 1);
  tap.clock(true, false);
  tap.clock(false, false);
  EXPECT_EQ(tap.instruction(), 9u);
  for (bool tms : {true, false, false}) tap.clock(tms, false);
  for (int i = 0; i < 36; ++i) tap.clock(i == 35, i == 1);
  tap.clock(true, false);
  EXPECT_TRUE(cpu.core_held_in_reset());
  cpu.set_powered(false);
  EXPECT_FALSE(cpu.tdo());
  cpu.set_powered(true);
  EXPECT_FALSE(cpu.core_held_in_reset());
  EXPECT_EQ(tap.state(), sim::TapState::test_logic_reset);
  EXPECT_EQ(tap.selected(), sim::DataRegister::idcode);
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
