// Processor identification through the simulated TAP: texts, kinds, maps and presets.
#include <gtest/gtest.h>

#include <map>

#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "download/interface.h"
#include "sim/pxa_pins.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

using sim::CpuModel;

std::uint32_t identify(CpuModel model, std::uint32_t idcode, std::string* text = nullptr) {
  SimRig rig(model, idcode, 0);
  EXPECT_TRUE(rig.open());
  target_description_clear();
  const std::uint32_t result = cpu_identify();
  if (text) *text = target_description();
  return result;
}

std::uint32_t id(std::uint32_t version, std::uint32_t part, std::uint32_t maker = 0x009) {
  return sim::make_idcode(version, part, maker);
}

// Texts and kinds by IDCODE: the version nibble names the stepping, the PXA3xx take either maker
// code, and codes of other parts or makers are refused.
TEST(Identify, SteppingsMakersAndRefusedCodes) {
  struct Case {
    CpuModel model;
    std::uint32_t idcode, found;
    const char* text;  // not checked where null
    std::uint32_t type;
  };
  const Case cases[] = {
      {CpuModel::pxa270, id(1, 0x9265), 1, "Intel PXA270  Stepping A1\r\n", 2},
      {CpuModel::pxa270, id(8, 0x9265), 1, "Intel PXA270 M Stepping A1\r\n", 2},
      {CpuModel::pxa270, id(7, 0x9265), 1, "Intel PXA270  Stepping C5\r\n", 2},
      {CpuModel::pxa255, id(6, 0x9264), 1, "Intel PXA255  Stepping A0\r\n", 1},
      {CpuModel::pxa255, id(0, 0x9264), 1,
       "Intel PXA255  Unknown Stepping (Update Dividezurirer)\r\n", 1},
      {CpuModel::pxa320, id(4, 0xE642, 0x013), 1, "PXA320  Stepping B0\r\n", 3},
      {CpuModel::pxa320, id(7, 0xE642, 0x009), 1, "Intel PXA320  Stepping C0\r\n", 3},
      {CpuModel::pxa310, id(2, 0xE649, 0x013), 1, "PXA310  Stepping A2\r\n", 5},
      {CpuModel::pxa300, id(3, 0xE648, 0x013), 1,
       "PXA300  Unknown Stepping (Update Dividezurirer)\r\n", 4},
      {CpuModel::pxa270, id(2, 0x926A), 0, "Intel ", 0},  // written before the part was rejected
      {CpuModel::pxa270, 0x29265012, 0, nullptr, 0},      // bit 0 clear
      {CpuModel::pxa270, id(2, 0x9265, 0x013), 0, nullptr, 0},  // not an Intel code
      {CpuModel::pxa320, id(0, 0xE642, 0x049), 0, nullptr, 0},
  };
  for (const auto& c : cases) {
    std::string text;
    EXPECT_EQ(identify(c.model, c.idcode, &text), c.found) << std::hex << c.idcode;
    if (c.text) {
      EXPECT_EQ(text, c.text);
    }
    if (c.found) {
      EXPECT_EQ(cpu_type, c.type) << text;
    }
  }

  // Stepping A0 of the PXA270 and its map; an SA1110 after it resets the kind and the map.
  std::string text;
  ASSERT_EQ(identify(CpuModel::pxa270, id(0, 0x9265), &text), 1u);
  EXPECT_EQ(text, "Intel PXA270  Stepping A0\r\n");
  EXPECT_EQ(cpu_type, 2u);
  EXPECT_EQ(jtag_ir_length, 7u);
  EXPECT_EQ(bs_map.bs_length, 504u);
  EXPECT_EQ(bs_map.address[0], 25u);
  EXPECT_EQ(bs_map.data_in[0], 491u);
  EXPECT_EQ(bs_map.data_out[0], 57u);
  EXPECT_EQ(bs_map.sample_preload, 1u);
  EXPECT_EQ(bs_map.pin_count, 119u);
  ASSERT_EQ(identify(CpuModel::sa1110, id(9, 0x9261), &text), 1u);
  EXPECT_EQ(text, "Intel SA1110  Stepping B5\r\n");
  EXPECT_EQ(cpu_type, 0u);
  EXPECT_EQ(bs_map.rd_nwr, 292u);  // no such pin: a placeholder
  EXPECT_EQ(bs_map.pin_count, 0u);
}

// Each processor with its default stepping: text, kind and IR length; every cell of its map names
// the pin the simulated processor (written from its boundary-scan description) puts there, lines
// it lacks using the placeholder bs_length; after start-up the presets drive the pins (every chip
// select and strobe inactive, the PXA270's GPIO 2 driven high, the PXA3xx NAND strobes inactive).
TEST(Identify, EveryProcessorItsMapAndItsPresets) {
  namespace pins = sim::pins;
  struct Case {
    CpuModel model;
    const char* text;
    std::uint32_t type, ir, length;
  };
  const Case cases[] = {
      {CpuModel::sa1110, "Intel SA1110  Stepping B4\r\n", 0, 5, 292},
      {CpuModel::pxa255, "Intel PXA255  Stepping A0\r\n", 1, 5, 410},
      {CpuModel::pxa270, "Intel PXA270  Stepping B0\r\n", 2, 7, 504},
      {CpuModel::pxa320, "PXA320  Stepping B1\r\n", 3, 11, 510},
      {CpuModel::pxa300, "PXA300  Stepping B2\r\n", 4, 11, 430},
      {CpuModel::pxa310, "PXA310  Stepping A2\r\n", 5, 11, 444},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    SimRig rig(c.model, 0);
    ASSERT_TRUE(rig.open());
    target_description_clear();
    ASSERT_EQ(cpu_identify(), 1u);
    EXPECT_EQ(target_description(), c.text);
    EXPECT_EQ(cpu_type, c.type);
    EXPECT_EQ(jtag_ir_length, c.ir);
    EXPECT_EQ(bs_map.bs_length, c.length);
    EXPECT_EQ(rig.cpu.info().boundary_length, c.length);

    const bool pxa3xx = cpu_type >= 3;
    std::map<std::uint16_t, pins::Pin> by_function;
    for (const pins::Pin& pin : pins::build_pins(c.model))
      for (std::uint16_t f : pin.functions) by_function[f] = pin;
    auto out = [&](std::uint16_t f) {
      auto it = by_function.find(f);
      return it == by_function.end() ? bs_map.bs_length : std::uint32_t{it->second.out};
    };
    for (std::uint16_t i = 0; i < 26; ++i) EXPECT_EQ(bs_map.address[i], out(pins::fn_a0 + i)) << i;
    for (std::uint16_t i = 0; i < 32; ++i) {
      EXPECT_EQ(bs_map.data_out[i], out(pins::fn_d0 + i)) << i;
      auto it = by_function.find(pins::fn_d0 + i);
      EXPECT_EQ(bs_map.data_in[i], it == by_function.end() ? bs_map.bs_length : it->second.in);
    }
    for (std::uint16_t k = 0; k < 6; ++k) EXPECT_EQ(bs_map.cs[k], out(pins::fn_ncs0 + k)) << k;
    EXPECT_EQ(bs_map.n_oe, out(pins::fn_noe));
    EXPECT_EQ(bs_map.n_we, out(pins::fn_nwe));
    EXPECT_EQ(bs_map.rd_nwr, out(pins::fn_rd_nwr));
    // Data-bus drivers: the PXA3xx enables each of D0..D15 alone, the others the bus in halves
    // (the SA1110 with one active-low enable).
    const pins::Pin& d0 = by_function.at(pins::fn_d0);
    EXPECT_EQ(bs_map.data_oe[0], d0.oe);
    EXPECT_EQ(bs_map.data_oe[1], by_function.at(pxa3xx ? pins::fn_d0 + 1 : pins::fn_d0 + 31).oe);
    EXPECT_EQ(d0.oe_active_low ? bs_map.data_oe_write : bs_map.data_oe_read, 0u);
    if (pxa3xx) {
      for (std::uint16_t i = 0; i < 16; ++i)
        EXPECT_EQ(bs_map.data_oe[i], by_function.at(pins::fn_d0 + i).oe) << i;
      EXPECT_EQ(bs_map.nand_cs0, out(pins::fn_nand_ncs0));
      EXPECT_EQ(bs_map.nand_cs1, out(pins::fn_nand_ncs1));
      EXPECT_EQ(bs_map.nand_we, out(pins::fn_nand_nwe));
      EXPECT_EQ(bs_map.nand_re, out(pins::fn_nand_nre));
      EXPECT_EQ(bs_map.cle, out(pins::fn_cle));
      EXPECT_EQ(bs_map.ale, out(pins::fn_ale));
      EXPECT_EQ(bs_map.ready, by_function.at(pins::fn_nand_ready).in);
    }
    std::uint32_t gpios = 0;
    while (by_function.count(pins::fn_gpio0 + gpios)) ++gpios;
    ASSERT_EQ(bs_map.pin_count, gpios);
    for (std::uint16_t p = 0; p < gpios; ++p) {
      const pins::Pin& pin = by_function.at(pins::fn_gpio0 + p);
      EXPECT_EQ(bs_map.pin_out[p], pin.out) << p;
      EXPECT_EQ(bs_map.pin_oe[p], pin.oe) << p;
    }

    const std::uint32_t t0 = clock::tick_ms();
    bs_start();
    EXPECT_GE(clock::tick_ms() - t0, pxa3xx ? 3660u : 960u);
    EXPECT_TRUE(rig.cpu.extest_active());
    EXPECT_TRUE(rig.cpu.core_held_in_reset());
    const auto& bus = rig.cpu.static_bus();
    EXPECT_EQ(bus.ncs, 0x3F);
    EXPECT_TRUE(bus.noe);
    EXPECT_TRUE(bus.nwe);
    if (c.model == CpuModel::pxa270) {
      EXPECT_TRUE(rig.cpu.gpio_driven(2));
      EXPECT_TRUE(rig.cpu.gpio_level(2));
      EXPECT_TRUE(rig.cpu.gpio_driven(15));  // nCS1
      EXPECT_FALSE(rig.cpu.gpio_driven(3));
    }
    if (pxa3xx) {
      const auto& nand = rig.cpu.nand_port();
      EXPECT_TRUE(nand.ncs0 && nand.ncs1 && nand.nwe && nand.nre);
      EXPECT_EQ(nand.data_driven, 0);
    }
  }
}

}  // namespace
}  // namespace dz::test
