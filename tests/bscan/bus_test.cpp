// Bus cycles through the boundary-scan register, observed at the simulated processor's pins.
#include <gtest/gtest.h>

#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "sim/bus.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

using sim::CpuModel;

// A device that remembers every pin state it was shown and drives a word derived from the
// address while its chip select and nOE are low; on the NAND port it drives `nand_word` while
// nRE is low and records what it latches on nWE's rising edge.
class Probe final : public sim::BusDevice {
 public:
  void static_bus(const sim::StaticBus& bus) override {
    buses.push_back(bus);
    last = bus;
  }
  void nand_port(const sim::NandPort& port) override {
    if (!nands.empty()) {
      const auto& before = nands.back();
      if (!before.nwe && port.nwe && (!port.ncs0 || !port.ncs1))
        latched.push_back({port.cle, port.ale, before.data, before.data_driven});
    }
    nands.push_back(port);
  }
  std::uint32_t drive_data(std::uint32_t& mask) const override {
    if (!nands.empty() && !nands.back().nre) {
      mask = 0xFFFF;
      return nand_word;
    }
    if (last.noe || last.ncs == 0x3F) {
      mask = 0;
      return 0;
    }
    mask = 0xFFFFFFFF;
    return word_for(last.address, last.ncs);
  }
  bool ready() const override { return is_ready; }
  static std::uint32_t word_for(std::uint32_t address, std::uint8_t ncs) {
    return (address * 2654435761u) ^ ncs;
  }
  struct Latch {
    bool cle, ale;
    std::uint16_t data, driven;
  };
  std::vector<sim::StaticBus> buses;
  std::vector<sim::NandPort> nands;
  std::vector<Latch> latched;
  sim::StaticBus last;
  std::uint16_t nand_word = 0xA55A;
  bool is_ready = true;
};

struct Started {
  explicit Started(CpuModel model) : rig(model, 0) {
    rig.cpu.attach(&probe);
    EXPECT_TRUE(rig.open());
    EXPECT_EQ(cpu_identify(), 1u);
    bs_start();
    probe.buses.clear();
    probe.nands.clear();
  }
  SimRig rig;
  Probe probe;
};

// The first address of chip select k's window.
std::uint32_t window_of(std::uint32_t cs) {
  for (std::uint32_t w = 0; w < 64; ++w)
    if (bs_map.cs_pattern[w] == (0x3F & ~(1u << cs)) + 0xC0) return w << 26;
  ADD_FAILURE() << "no window for nCS" << cs;
  return 0;
}

class StaticBusCycles : public ::testing::TestWithParam<CpuModel> {};

TEST_P(StaticBusCycles, WordWriteAndReadOnEveryChipSelect) {
  Started s(GetParam());
  for (std::uint32_t cs = 0; cs < 6; ++cs) {
    const std::uint32_t address = window_of(cs) | 0x0123456 << 2;
    const std::uint32_t data = 0x5AC3F00F ^ (cs * 0x01010101);
    s.probe.buses.clear();
    bs_bus_cycle(bus_write_setup, address, data, 0);
    bs_bus_cycle(bus_write_strobe, address, data, 0);
    ASSERT_EQ(s.probe.buses.size(), 2u);
    for (const auto& bus : s.probe.buses) {
      EXPECT_EQ(bus.ncs, 0x3F & ~(1u << cs)) << "nCS" << cs;
      EXPECT_EQ(bus.address, address & 0x03FFFFFF);
      EXPECT_EQ(bus.data_driven, 0xFFFFFFFFu);
      EXPECT_EQ(bus.data, data);
      EXPECT_TRUE(bus.noe);
    }
    EXPECT_TRUE(s.probe.buses[0].nwe);
    EXPECT_FALSE(s.probe.buses[1].nwe);  // strobe low until the next phase
    if (cpu_type == cpu_pxa270) {
      EXPECT_FALSE(s.probe.buses[1].rd_nwr);
    }

    s.probe.buses.clear();
    bs_bus_cycle(bus_read, address, 0, 0);
    const std::uint32_t got = bs_bus_cycle(bus_idle, address, 0, 1);
    ASSERT_EQ(s.probe.buses.size(), 2u);
    EXPECT_FALSE(s.probe.buses[0].noe);
    EXPECT_TRUE(s.probe.buses[0].nwe);
    EXPECT_EQ(s.probe.buses[0].data_driven, 0u);  // released for the chip
    if (cpu_type == cpu_pxa270) {
      EXPECT_TRUE(s.probe.buses[0].rd_nwr);
    }
    EXPECT_TRUE(s.probe.buses[1].noe);
    EXPECT_EQ(got,
              Probe::word_for(address & 0x03FFFFFF, static_cast<std::uint8_t>(0x3F & ~(1u << cs))))
        << "nCS" << cs;
  }
}

INSTANTIATE_TEST_SUITE_P(Processors, StaticBusCycles,
                         ::testing::Values(CpuModel::sa1110, CpuModel::pxa255, CpuModel::pxa270));

TEST(StaticBus, UndrivenPinsReadAsPullUp) {
  Started s(CpuModel::pxa270);
  // Turning the address enable off releases A0..A25: they read high whatever the cells say.
  const std::uint32_t enable = 69;
  bs_set_cells(&enable, 0, 1);
  bs_bus_cycle(bus_write_setup, 0, 0, 0);
  EXPECT_EQ(s.probe.last.address, 0x03FFFFFFu);
  EXPECT_EQ(s.probe.last.data, 0u);  // the data bus is still driven
  bs_set_cells(&enable, 1, 1);
  bs_bus_cycle(bus_write_setup, 0, 0, 0);
  EXPECT_EQ(s.probe.last.address, 0u);
}

TEST(Pxa320, PlaceholdersShiftNothingAndNandCyclesLatchInTime) {
  Started s(CpuModel::pxa320);
  bs_bus_cycle(bus_idle, 4u << 26, 0, 0);
  std::vector<bool> before;
  for (std::uint32_t n = 0; n < 510; ++n) before.push_back(s.rig.cpu.cell(n));
  bs_bus_cycle(bus_idle, (5u << 26) | 0x03FFF000, 0, 0);  // nCS5 instead of nCS4, A12..A25 set
  for (std::uint32_t n = 0; n < 510; ++n) EXPECT_EQ(s.rig.cpu.cell(n), before[n]) << "cell " << n;
  EXPECT_EQ(s.rig.cpu.tap().last_dr_shift_count(), 510u);
  EXPECT_EQ(s.probe.last.ncs, 0x3F);

  // NAND command, address, data and read cycles with their latch timing.
  nand_cs1_start = 0xFFFFFFFF;
  nand_cycle(0, nand_select);
  EXPECT_FALSE(s.probe.nands.back().ncs0);
  EXPECT_TRUE(s.probe.nands.back().ncs1);
  EXPECT_FALSE(s.probe.nands.back().cle);
  EXPECT_FALSE(s.probe.nands.back().ale);

  s.probe.nands.clear();
  nand_cycle(0x7070, nand_command);
  ASSERT_EQ(s.probe.nands.size(), 2u);
  EXPECT_FALSE(s.probe.nands[0].nwe);
  EXPECT_TRUE(s.probe.nands[0].cle);
  EXPECT_EQ(s.probe.nands[0].data, 0x7070);
  EXPECT_EQ(s.probe.nands[0].data_driven, 0xFFFF);
  EXPECT_TRUE(s.probe.nands[1].nwe);
  EXPECT_TRUE(s.probe.nands[1].cle);  // still high after the rising edge
  EXPECT_EQ(s.probe.nands[1].data_driven, 0);
  ASSERT_EQ(s.probe.latched.size(), 1u);
  EXPECT_TRUE(s.probe.latched[0].cle);
  EXPECT_FALSE(s.probe.latched[0].ale);
  EXPECT_EQ(s.probe.latched[0].data, 0x7070);

  nand_cycle(0x1212, nand_address);
  EXPECT_FALSE(s.probe.nands[2].cle);  // the next scan lowered CLE
  EXPECT_TRUE(s.probe.nands[2].ale);
  nand_cycle(0x00AB, nand_data);
  EXPECT_FALSE(s.probe.nands[4].ale);
  ASSERT_EQ(s.probe.latched.size(), 3u);
  EXPECT_TRUE(s.probe.latched[1].ale);
  EXPECT_EQ(s.probe.latched[1].data, 0x1212);
  EXPECT_FALSE(s.probe.latched[2].ale || s.probe.latched[2].cle);
  EXPECT_EQ(s.probe.latched[2].data, 0x00AB);

  s.probe.nands.clear();
  s.probe.nand_word = 0x3C5A;
  EXPECT_EQ(nand_cycle(0, nand_read), 0x3C5Au);
  ASSERT_EQ(s.probe.nands.size(), 2u);
  EXPECT_FALSE(s.probe.nands[0].nre);
  EXPECT_TRUE(s.probe.nands[1].nre);

  nand_cycle(0, nand_deselect);
  EXPECT_TRUE(s.probe.nands.back().ncs0 && s.probe.nands.back().ncs1);
  EXPECT_TRUE(s.probe.nands.back().cle && s.probe.nands.back().ale);  // same pins as nOE/nWE
  nand_cs1_start = 0x100;
  nand_cycle(0x100, nand_select);
  EXPECT_TRUE(s.probe.nands.back().ncs0);
  EXPECT_FALSE(s.probe.nands.back().ncs1);
  EXPECT_FALSE(s.probe.nands.back().cle);
  nand_cs1_start = 0xFFFFFFFF;
}

TEST(Pxa310, WaitReadyScansOnceWhenReadyAndTimesOutOnVirtualTimeAndSinglePins) {
  Started s(CpuModel::pxa310);
  const auto captures = s.rig.cpu.tap().boundary_captures();
  EXPECT_EQ(bs_wait_ready(), 1u);
  EXPECT_EQ(s.rig.cpu.tap().boundary_captures(), captures + 1);
  s.probe.is_ready = false;
  const std::uint32_t t0 = clock::tick_ms();
  EXPECT_EQ(bs_wait_ready(), 0u);
  EXPECT_GT(clock::tick_ms() - t0, 2000u);
  EXPECT_LT(clock::tick_ms() - t0, 2010u);

  // Single pins.
  EXPECT_FALSE(s.rig.cpu.gpio_driven(40));
  bs_set_pin_output(40, 0);
  bs_set_pin_enable(40, 1);
  EXPECT_TRUE(s.rig.cpu.gpio_driven(40));
  EXPECT_FALSE(s.rig.cpu.gpio_level(40));
  bs_set_pin_output(40, 1);
  EXPECT_TRUE(s.rig.cpu.gpio_level(40));
  const auto updates = s.rig.cpu.tap().boundary_updates();
  bs_set_pin_output(138, 1);  // beyond the list: nothing
  EXPECT_EQ(s.rig.cpu.tap().boundary_updates(), updates);
}

TEST(Cells, SetAndGetEdgeCases) {
  std::fill(std::begin(bs_out), std::end(bs_out), 0u);
  const std::uint32_t cells[3] = {5, 5, 575};
  bs_set_cells(cells, 0x7, 0);
  EXPECT_EQ(bs_out[0], 0u);
  bs_set_cells(cells, 0x1, 2);  // the same cell twice: the last element wins
  EXPECT_EQ(bs_out[0], 0u);
  bs_set_cells(cells, 0x6, 3);
  EXPECT_EQ(bs_out[0], 1u << 5);
  EXPECT_EQ(bs_out[17], 1u << 31);
  const std::uint32_t outside[2] = {576, 100000};
  bs_set_cells(outside, 3, 2);  // beyond the image: ignored
  std::fill(std::begin(bs_in), std::end(bs_in), 0u);
  bs_in[1] = 0x4;
  const std::uint32_t read[3] = {34, 0, 100000};
  EXPECT_EQ(bs_get_cells(bs_in, read, 3), 1u);
}

}  // namespace
}  // namespace dz::test
