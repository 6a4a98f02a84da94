// Pin tables of the six processors, as their boundary-scan descriptions lay the cells out.
#include "sim/pxa_pins.h"

#include <algorithm>
#include <initializer_list>

#include "sim/pxa.h"

namespace dz::sim::pins {
namespace {

class PinTable {
 public:
  // A pin driven from `out`, enabled by `oe`, sampled at `in`; merged with an earlier pin that
  // has the same output cell (one pin, several functions).
  void add(std::uint16_t function, std::uint16_t out, std::uint16_t oe, std::uint16_t in,
           bool oe_active_low = false) {
    if (out != no_cell) {
      auto it =
          std::find_if(pins_.begin(), pins_.end(), [&](const Pin& p) { return p.out == out; });
      if (it != pins_.end()) {
        it->functions.push_back(function);
        return;
      }
    }
    pins_.push_back(Pin{out, oe, in, oe_active_low, {function}});
  }
  // PXA3xx pads: one bidirectional cell per pin, its enable in the next cell.
  void pad(std::uint16_t function, std::uint16_t cell) {
    add(function, cell, static_cast<std::uint16_t>(cell + 1), cell);
  }
  // General-purpose pads in runs whose cells fall by 2 per pin.
  void gpio_runs(std::initializer_list<std::pair<std::uint16_t, std::uint16_t>> runs) {
    std::uint16_t p = 0;
    for (auto [count, first_cell] : runs)
      for (std::uint16_t i = 0; i < count; ++i, ++p)
        pad(static_cast<std::uint16_t>(fn_gpio0 + p),
            static_cast<std::uint16_t>(first_cell - 2 * i));
  }
  std::vector<Pin> take() { return std::move(pins_); }

 private:
  std::vector<Pin> pins_;
};

std::vector<Pin> sa1110() {
  PinTable t;
  // The memory bus pins are plain outputs; one active-low enable serves the whole data bus.
  for (std::uint16_t i = 0; i < 26; ++i) t.add(fn_a0 + i, 28 + i, no_cell, no_cell);
  for (std::uint16_t g = 0; g < 4; ++g)
    for (std::uint16_t k = 0; k < 8; ++k) {
      const std::uint16_t in = 275 - 2 * g - 8 * k;
      t.add(fn_d0 + 8 * g + k, in + 1, 212, in, true);
    }
  for (std::uint16_t k = 0; k < 6; ++k) t.add(fn_ncs0 + k, 54 + k, no_cell, no_cell);
  t.add(fn_noe, 72, no_cell, no_cell);
  t.add(fn_nwe, 73, no_cell, no_cell);
  return t.take();
}

std::vector<Pin> pxa255() {
  PinTable t;
  // Control strobes and nCS0 share one enable; the address bus has two (low and high half).
  for (std::uint16_t i = 0; i < 26; ++i) t.add(fn_a0 + i, 247 + i, i < 13 ? 225 : 226, no_cell);
  for (std::uint16_t i = 0; i < 32; ++i) t.add(fn_d0 + i, 191 + i, i < 16 ? 94 : 93, 369 + i);
  t.add(fn_ncs0, 246, 224, no_cell);
  // nCS1..nCS5 are the alternate functions of GPIO 15, 78, 79, 80 and 33, whose direction cells
  // are numbered like the GPIOs.
  const std::uint16_t cs_out[5] = {110, 173, 174, 175, 128};
  const std::uint16_t cs_gpio[5] = {15, 78, 79, 80, 33};
  for (std::uint16_t k = 0; k < 5; ++k) t.add(fn_ncs0 + 1 + k, cs_out[k], cs_gpio[k], no_cell);
  t.add(fn_noe, 245, 224, no_cell);
  t.add(fn_nwe, 244, 224, no_cell);
  return t.take();
}

std::vector<Pin> pxa270() {
  PinTable t;
  for (std::uint16_t i = 0; i < 26; ++i) t.add(fn_a0 + i, 25 - i, 69, no_cell);
  for (std::uint16_t i = 0; i < 32; ++i) t.add(fn_d0 + i, 57 - i, i < 16 ? 71 : 72, 491 - i);
  t.add(fn_ncs0, 61, 70, no_cell);
  t.add(fn_noe, 60, 70, no_cell);
  t.add(fn_nwe, 59, 70, no_cell);
  t.add(fn_rd_nwr, 68, 70, no_cell);
  // GPIO 0..118: output cell 318 - p, direction cell 197 - p. nCS1..nCS5 are GPIO 15, 78, 79,
  // 80 and 33.
  const std::uint16_t cs_gpio[5] = {15, 78, 79, 80, 33};
  for (std::uint16_t k = 0; k < 5; ++k)
    t.add(fn_ncs0 + 1 + k, 318 - cs_gpio[k], 197 - cs_gpio[k], no_cell);
  for (std::uint16_t p = 0; p < 119; ++p) t.add(fn_gpio0 + p, 318 - p, 197 - p, no_cell);
  return t.take();
}

struct Pxa3xxPads {
  std::uint16_t data[32];  // 0 = the pin does not exist
  std::uint16_t addr_low[4];
  std::uint16_t addr_high[14];  // A12..A25, 0 = none
  std::uint16_t ncs[4];
  std::uint16_t noe_cle, nwe_ale, rd_nwr, ready, nand_ncs0, nand_ncs1, nand_nwe, nand_nre;
};

void pxa3xx(PinTable& t, const Pxa3xxPads& p) {
  for (std::uint16_t i = 0; i < 32; ++i)
    if (p.data[i] != 0) t.pad(fn_d0 + i, p.data[i]);
  // The static bus multiplexes A4..A11 onto D4..D11.
  for (std::uint16_t i = 4; i < 12; ++i) t.pad(fn_a0 + i, p.data[i]);
  for (std::uint16_t i = 0; i < 4; ++i) t.pad(fn_a0 + i, p.addr_low[i]);
  for (std::uint16_t i = 0; i < 14; ++i)
    if (p.addr_high[i] != 0) t.pad(fn_a0 + 12 + i, p.addr_high[i]);
  for (std::uint16_t k = 0; k < 4; ++k) t.pad(fn_ncs0 + k, p.ncs[k]);
  t.pad(fn_noe, p.noe_cle);
  t.pad(fn_cle, p.noe_cle);
  t.pad(fn_nwe, p.nwe_ale);
  t.pad(fn_ale, p.nwe_ale);
  t.pad(fn_rd_nwr, p.rd_nwr);
  t.pad(fn_nand_ready, p.ready);
  t.pad(fn_nand_ncs0, p.nand_ncs0);
  t.pad(fn_nand_ncs1, p.nand_ncs1);
  t.pad(fn_nand_nwe, p.nand_nwe);
  t.pad(fn_nand_nre, p.nand_nre);
}

std::vector<Pin> pxa320() {
  PinTable t;
  pxa3xx(t, {{312, 308, 304, 300, 296, 292, 288, 284, 310, 306, 302, 298, 294, 290, 286, 282},
             {320, 318, 316, 314},
             {},
             {412, 410, 356, 354},
             348,
             346,
             238,
             334,
             332,
             330,
             328,
             326});
  t.gpio_runs({{5, 362},
               {5, 280},
               {1, 194},
               {38, 270},
               {14, 192},
               {11, 148},
               {59, 118},
               {8, 164},
               {4, 126}});
  return t.take();
}

std::vector<Pin> pxa300() {
  PinTable t;
  pxa3xx(t, {{308, 304, 300, 296, 280, 276, 272, 268, 306, 302, 298, 294, 278, 274, 270, 266,
              94,  6,   76,  74,  72,  70,  194, 192, 190, 188, 186, 184, 248, 250, 206, 198},
             {316, 314, 312, 310},
             {26, 24, 22, 18, 282, 290, 334, 208, 210, 12, 16, 212, 214, 182},
             {330, 332, 262, 260},
             292,
             318,
             244,
             328,
             288,
             264,
             326,
             324});
  t.gpio_runs({{3, 338}, {24, 262}, {103, 204}, {5, 214}});
  return t.take();
}

std::vector<Pin> pxa310() {
  PinTable t;
  pxa3xx(t, {{322, 318, 314, 310, 294, 290, 286, 282, 320, 316, 312, 308, 292, 288, 284, 280,
              102, 6,   84,  82,  80,  78,  202, 200, 198, 196, 194, 192, 262, 264, 68,  206},
             {330, 328, 326, 324},
             {26, 24, 22, 18, 296, 304, 348, 220, 222, 12, 16, 224, 226, 190},
             {344, 346, 276, 274},
             306,
             332,
             258,
             342,
             302,
             278,
             340,
             338});
  t.gpio_runs({{3, 352}, {24, 276}, {3, 218}, {69, 206}, {31, 60}, {4, 226}, {4, 68}});
  return t.take();
}

}  // namespace

std::vector<Pin> build_pins(CpuModel model) {
  switch (model) {
    case CpuModel::sa1110:
      return sa1110();
    case CpuModel::pxa255:
      return pxa255();
    case CpuModel::pxa270:
      return pxa270();
    case CpuModel::pxa320:
      return pxa320();
    case CpuModel::pxa300:
      return pxa300();
    case CpuModel::pxa310:
      return pxa310();
  }
  return {};
}

}  // namespace dz::sim::pins
