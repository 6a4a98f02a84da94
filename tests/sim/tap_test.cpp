// The simulated TAP: state machine, instruction register, data registers, and the ring shift
// against a plain shift register.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "platform/clock.h"
#include "sim/parallel_port.h"
#include "sim/pxa.h"
#include "sim/remote_bitbang.h"
#include "sim/tap.h"

namespace dz::sim {
namespace {

// Boundary hooks holding a plain register of `length` cells for comparison.
struct PlainHooks final : BoundaryHooks {
  std::vector<std::uint8_t> captured, updated;
  std::uint32_t instruction = 0;
  void boundary_capture(std::uint8_t* cells, std::uint32_t count) override {
    std::copy_n(captured.begin(), count, cells);
  }
  void boundary_update(const std::uint8_t* cells, std::uint32_t count) override {
    updated.assign(cells, cells + count);
  }
  void instruction_changed(std::uint32_t i) override { instruction = i; }
};

TapConfig config(std::uint32_t boundary) {
  TapConfig c;
  c.idcode = 0x29265013;
  c.ir_length = 7;
  c.idcode_instruction = 0x7E;
  c.extest = 0;
  c.sample_preload = 1;
  c.boundary_length = boundary;
  return c;
}

void go(Tap& tap, std::initializer_list<int> tms) {
  for (int t : tms) tap.clock(t, 0);
}

TEST(Tap, StateMachineFollowsTheStandardAndUnknownInstructionsSelectBypass) {
  PlainHooks hooks;
  Tap tap(config(8), &hooks);
  EXPECT_EQ(tap.state(), TapState::test_logic_reset);
  go(tap, {0});
  EXPECT_EQ(tap.state(), TapState::run_test_idle);
  go(tap, {1, 0, 0});
  EXPECT_EQ(tap.state(), TapState::shift_dr);
  go(tap, {1, 0, 1});
  EXPECT_EQ(tap.state(), TapState::exit2_dr);
  go(tap, {0, 1, 1});
  EXPECT_EQ(tap.state(), TapState::update_dr);
  go(tap, {1, 1, 0, 0, 1, 0, 1, 1});
  EXPECT_EQ(tap.state(), TapState::update_ir);
  go(tap, {1, 1, 1});
  EXPECT_EQ(tap.state(), TapState::test_logic_reset);
  go(tap, {0, 1, 1, 1, 1, 1});
  EXPECT_EQ(tap.state(), TapState::test_logic_reset);  // five TMS=1 from anywhere
  EXPECT_STREQ(tap_state_name(TapState::pause_ir), "Pause-IR");

  // The instruction capture is ...01; unknown codes select BYPASS.
  go(tap, {0, 1, 1, 0, 0});  // Shift-IR
  std::uint32_t out = 0;
  for (int i = 0; i < 7; ++i) {
    tap.set_pins(false, i == 6, (0x55 >> i) & 1);
    out |= static_cast<std::uint32_t>(tap.tdo()) << i;
    tap.set_pins(true, i == 6, (0x55 >> i) & 1);
  }
  EXPECT_EQ(out, 1u);  // ...0000001
  go(tap, {1, 0});
  EXPECT_EQ(tap.instruction(), 0x55u);
  EXPECT_EQ(hooks.instruction, 0x55u);
  EXPECT_EQ(tap.selected(), DataRegister::bypass);
  tap.trst();
  EXPECT_EQ(tap.selected(), DataRegister::idcode);
}

// Shifting any number of bits through the ring behaves like a shift register of the same length.
TEST(Tap, RingShiftEqualsAPlainShiftRegister) {
  std::mt19937 random(7);
  for (std::uint32_t length : {1u, 2u, 31u, 292u, 504u}) {
    for (std::uint32_t shifts : {0u, 1u, length - 1, length, length + 1, 3 * length + 5}) {
      PlainHooks hooks;
      hooks.captured.resize(length);
      for (auto& c : hooks.captured) c = random() & 1;
      Tap tap(config(length), &hooks);
      go(tap, {0, 1, 1, 0, 0});
      for (int i = 0; i < 7; ++i) tap.clock(i == 6, 0);  // EXTEST
      go(tap, {1, 0, 1, 0});                             // Capture-DR
      std::deque<std::uint8_t> plain(hooks.captured.begin(), hooks.captured.end());
      std::vector<std::uint8_t> seen, expected;
      go(tap, {shifts == 0 ? 1 : 0});  // the capture happens on leaving Capture-DR
      for (std::uint32_t i = 0; i < shifts; ++i) {
        const int tdi = random() & 1;
        const bool last = i + 1 == shifts;
        tap.set_pins(false, last, tdi);
        seen.push_back(tap.tdo());
        expected.push_back(plain.front());
        plain.pop_front();
        plain.push_back(static_cast<std::uint8_t>(tdi));
        tap.set_pins(true, last, tdi);
      }
      go(tap, {1, 0});  // Update-DR, Run-Test/Idle
      EXPECT_EQ(seen, expected) << length << "/" << shifts;
      EXPECT_EQ(hooks.updated, std::vector<std::uint8_t>(plain.begin(), plain.end()))
          << length << "/" << shifts;
      EXPECT_EQ(tap.last_dr_shift_count(), shifts);
    }
  }
}

TEST(Pxa, EnableOffMeansNotDrivenAndSampleDoesNotDrive) {
  Pxa cpu(CpuModel::sa1110);
  Tap& tap = cpu.tap();
  auto load_ir = [&](std::uint32_t v) {
    go(tap, {0, 1, 1, 0, 0});
    for (int i = 0; i < 5; ++i) tap.clock(i == 4, (v >> i) & 1);
    go(tap, {1, 0});
  };
  auto scan = [&](const std::vector<int>& ones) {
    std::vector<std::uint8_t> bits(292, 0);
    for (int c : ones) bits[c] = 1;
    go(tap, {1, 0, 0});
    for (int i = 0; i < 292; ++i) tap.clock(i == 291, bits[i]);
    go(tap, {1, 0});
  };
  go(tap, {0});
  load_ir(1);   // SAMPLE/PRELOAD: latches change, pins stay released
  scan({276});  // D0 out = 1, data enable cell 212 = 0 (active low: driven)
  EXPECT_FALSE(cpu.extest_active());
  EXPECT_EQ(cpu.static_bus().data_driven, 0u);
  load_ir(0);  // EXTEST drives the preloaded latches at once
  EXPECT_TRUE(cpu.extest_active());
  EXPECT_EQ(cpu.static_bus().data_driven, 0xFFFFFFFFu);
  EXPECT_EQ(cpu.static_bus().data, 1u);
  EXPECT_EQ(cpu.static_bus().ncs, 0u);  // nCS cells 0: all selected
  scan({212, 54, 55, 56, 57, 58, 59});  // enable off: released
  EXPECT_EQ(cpu.static_bus().data_driven, 0u);
  EXPECT_EQ(cpu.static_bus().ncs, 0x3F);
}

TEST(ParallelPort, StatusBitsPerCableAndVirtualTime) {
  Pxa cpu(CpuModel::pxa270);
  ParallelPortSim port(cpu, 0);
  dz::clock::use_virtual_clock();
  // TDO is high (pull-up) outside the shift states.
  EXPECT_EQ(port.read(0x379) & 0x80, 0);  // Busy reads inverted
  port.set_cable_kind(1);
  EXPECT_EQ(port.read(0x379) & 0x20, 0x20);
  port.set_cable_kind(3);
  EXPECT_EQ(port.read(0x379) & 0x10, 0x10);
  for (int i = 0; i < 100; ++i) port.write(0x378, static_cast<std::uint8_t>(i & 2));
  port.flush();
  EXPECT_EQ(dz::clock::now_us(), 103u);
  EXPECT_EQ(cpu.tap().tck_cycles(), 25u);  // Insight: TCK on D1, high every fourth write
  port.write(0x37A, 0x0B);
  EXPECT_EQ(port.control_register(), 0x0B);
  EXPECT_EQ(port.read(0x37A), 0x0B);
}

TEST(Bitbang, SessionAnswersReadsInOrderAndStopsAtQ) {
  Pxa cpu(CpuModel::pxa270);
  BitbangSession session(cpu);
  std::string reply;
  // Reset, then Shift-DR of the IDCODE: read four bits (1, 1, 0, 0 of 0x...13).
  const std::string requests =
      "tr"
      "2626262626"
      "04"
      "26"
      "04"
      "04"
      "0R40R40R40R4"
      "BQ5";
  EXPECT_FALSE(
      session.feed(reinterpret_cast<const std::uint8_t*>(requests.data()), requests.size(), reply));
  EXPECT_EQ(reply, "1100");
  EXPECT_TRUE(session.led());
}

}  // namespace
}  // namespace dz::sim
