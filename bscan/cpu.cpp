// Processor identification and the boundary-scan maps of the six supported processors.
#include "bscan/cpu.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "bscan/bus.h"
#include "jtag/cable.h"
#include "jtag/usb_adapter.h"
#include "platform/debug.h"
#include "state/process_state.h"

namespace dz {

std::uint32_t cpu_type = 0;
BsMap bs_map;
std::uint32_t bs_out[18] = {};
std::uint32_t bs_in[24] = {};

namespace {

constexpr const char* unknown_stepping = " Unknown Stepping (Update Dividezurirer)\r\n";

// Stepping texts by version field, per processor (nullptr = not listed).
constexpr const char* steppings[6][16] = {
    // SA1110
    {" Stepping A0\r\n", nullptr, nullptr, nullptr, " Stepping B0\r\n", " Stepping B1\r\n",
     " Stepping B2\r\n", nullptr, " Stepping B4\r\n", " Stepping B5\r\n"},
    // PXA255
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, " Stepping A0\r\n"},
    // PXA270
    {" Stepping A0\r\n", " Stepping A1\r\n", " Stepping B0\r\n", " Stepping B1\r\n",
     " Stepping C0\r\n", nullptr, nullptr, " Stepping C5\r\n", "M Stepping A1\r\n"},
    // PXA320
    {" Stepping A0\r\n", " Stepping A1\r\n", nullptr, nullptr, " Stepping B0\r\n",
     " Stepping B1\r\n", " Stepping B2\r\n", " Stepping C0\r\n"},
    // PXA300
    {" Stepping A0\r\n", " Stepping A1\r\n", nullptr, nullptr, " Stepping B0\r\n",
     " Stepping B1\r\n", " Stepping B2\r\n"},
    // PXA310
    {" Stepping A0\r\n", " Stepping A1\r\n", " Stepping A2\r\n", nullptr, " Stepping B0\r\n",
     " Stepping B1\r\n", " Stepping B2\r\n"},
};

constexpr const char* part_names[6] = {"SA1110 ", "PXA255 ", "PXA270 ",
                                       "PXA320 ", "PXA300 ", "PXA310 "};

void set_cell(std::uint32_t cell, std::uint32_t value) {
  bs_set_cells(&cell, value, 1);
}

void set_cells(std::initializer_list<std::uint32_t> cells, std::uint32_t value) {
  for (std::uint32_t c : cells) set_cell(c, value);
}

void copy_cells(std::uint32_t* field, std::initializer_list<std::uint32_t> cells) {
  std::copy(cells.begin(), cells.end(), field);
}

// Chip selects, nOE and nWE inactive: every processor's preset ends with this.
void release_static_bus() {
  bs_set_cells(bs_map.cs, 0x3F, 6);
  set_cell(bs_map.n_oe, 1);
  set_cell(bs_map.n_we, 1);
}

void pxa_cs_pattern() {
  std::fill(std::begin(bs_map.cs_pattern), std::end(bs_map.cs_pattern), 0xFF);
  const std::uint8_t windows[6] = {0xFE, 0xFD, 0xFB, 0xF7, 0xEF, 0xDF};
  std::copy(std::begin(windows), std::end(windows), bs_map.cs_pattern);
}

void map_sa1110() {
  bs_map.extest = 0;
  bs_map.sample_preload = 0;
  bs_map.bs_length = 292;
  for (std::uint32_t g = 0; g < 4; ++g)
    for (std::uint32_t k = 0; k < 8; ++k) {
      bs_map.data_in[8 * g + k] = 275 - 2 * g - 8 * k;
      bs_map.data_out[8 * g + k] = 276 - 2 * g - 8 * k;
    }
  for (std::uint32_t i = 0; i < 26; ++i) bs_map.address[i] = 28 + i;
  copy_cells(bs_map.cs, {54, 55, 56, 57, 58, 59});
  bs_map.n_oe = 72;
  bs_map.n_we = 73;
  bs_map.rd_nwr = bs_map.bs_length;  // no such pin: a placeholder that shifts nothing
  bs_map.data_oe[0] = bs_map.data_oe[1] = 212;
  bs_map.data_oe_read = 3;
  bs_map.data_oe_write = 0;
  std::fill(std::begin(bs_map.cs_pattern), std::end(bs_map.cs_pattern), 0xFF);
  const std::uint8_t pairs[10] = {0xFE, 0xFD, 0xFB, 0xF7, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xDF};
  for (int w = 0; w < 20; ++w) bs_map.cs_pattern[w] = pairs[w / 2];
  bs_map.pin_count = 0;
  for (std::uint32_t c :
       {0,   1,   2,   3,   6,   9,   15,  18,  24,  30,  54,  55,  56,  57,  58,  59,  60,  62,
        63,  64,  65,  66,  73,  75,  76,  78,  79,  85,  88,  91,  94,  97,  100, 103, 106, 109,
        112, 115, 118, 130, 133, 136, 139, 142, 145, 148, 151, 157, 160, 163, 166, 169, 174, 175,
        181, 187, 193, 196, 199, 202, 209, 210, 212, 272, 276, 277, 280, 283, 286, 289})
    set_cell(c, 1);
  release_static_bus();
}

void map_pxa255() {
  bs_map.extest = 0;
  bs_map.sample_preload = 0;
  bs_map.bs_length = 410;
  for (std::uint32_t i = 0; i < 32; ++i) {
    bs_map.data_in[i] = 369 + i;
    bs_map.data_out[i] = 191 + i;
  }
  for (std::uint32_t i = 0; i < 26; ++i) bs_map.address[i] = 247 + i;
  copy_cells(bs_map.cs, {246, 110, 173, 174, 175, 128});
  bs_map.n_oe = 245;
  bs_map.n_we = 244;
  bs_map.rd_nwr = bs_map.bs_length;  // no such pin
  bs_map.data_oe[0] = 94;
  bs_map.data_oe[1] = 93;
  bs_map.data_oe_read = 0;
  bs_map.data_oe_write = 3;
  pxa_cs_pattern();
  bs_map.pin_count = 0;
  set_cells({224, 15, 78, 79, 80, 33, 225, 226, 52, 53, 147, 148}, 1);
  release_static_bus();
}

void map_pxa270() {
  bs_map.extest = 0;
  bs_map.sample_preload = 1;
  bs_map.bs_length = 504;
  for (std::uint32_t i = 0; i < 32; ++i) {
    bs_map.data_in[i] = 491 - i;
    bs_map.data_out[i] = 57 - i;
  }
  for (std::uint32_t i = 0; i < 26; ++i) bs_map.address[i] = 25 - i;
  copy_cells(bs_map.cs, {61, 303, 240, 239, 238, 285});
  bs_map.n_oe = 60;
  bs_map.n_we = 59;
  bs_map.rd_nwr = 68;
  bs_map.data_oe[0] = 71;
  bs_map.data_oe[1] = 72;
  bs_map.data_oe_read = 0;
  bs_map.data_oe_write = 3;
  pxa_cs_pattern();
  bs_map.pin_count = 119;
  for (std::uint32_t p = 0; p < 119; ++p) {
    bs_map.pin_out[p] = 318 - p;
    bs_map.pin_oe[p] = 197 - p;
  }
  set_cells({319, 320, 321}, 1);
  set_cell(58, 0);
  set_cells({69, 70, 73, 74, 75}, 1);
  set_cells({182, 119, 118, 117, 164}, 1);  // enables of GPIO 15, 78, 79, 80, 33 (nCS1..nCS5)
  release_static_bus();
  bs_set_pin_enable(2, 1);
  bs_set_pin_output(2, 1);
}

struct Pxa3xxMap {
  std::uint32_t bs_length;
  std::uint32_t data[32];  // 0 = not assigned (placeholder)
  std::uint32_t addr_low[4];
  std::uint32_t addr_high[14];  // A12..A25, 0 = placeholder
  std::uint32_t cs[6];          // 0 = placeholder
  std::uint32_t n_oe, n_we, rd_nwr, ready, nand_cs0, nand_cs1, nand_we, nand_re;
  std::uint32_t data_oe0, data_oe1;
  std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> pin_runs;  // (count, first)
};

void map_pxa3xx(const Pxa3xxMap& m) {
  const std::uint32_t none = m.bs_length;
  auto cell_or_none = [none](std::uint32_t c) { return c == 0 ? none : c; };
  bs_map.extest = 0;
  bs_map.sample_preload = 3;
  bs_map.bs_length = m.bs_length;
  for (std::uint32_t i = 0; i < 32; ++i)
    bs_map.data_in[i] = bs_map.data_out[i] = cell_or_none(m.data[i]);
  for (std::uint32_t i = 0; i < 4; ++i) bs_map.address[i] = m.addr_low[i];
  for (std::uint32_t i = 4; i < 12; ++i) bs_map.address[i] = m.data[i];
  for (std::uint32_t i = 0; i < 14; ++i) bs_map.address[12 + i] = cell_or_none(m.addr_high[i]);
  for (std::uint32_t k = 0; k < 6; ++k) bs_map.cs[k] = cell_or_none(m.cs[k]);
  bs_map.n_oe = bs_map.cle = m.n_oe;
  bs_map.n_we = bs_map.ale = m.n_we;
  bs_map.rd_nwr = m.rd_nwr;
  bs_map.ready = m.ready;
  bs_map.nand_cs0 = m.nand_cs0;
  bs_map.nand_cs1 = m.nand_cs1;
  bs_map.nand_we = m.nand_we;
  bs_map.nand_re = m.nand_re;
  for (std::uint32_t i = 0; i < 16; ++i) bs_map.data_oe[i] = m.data[i] + 1;
  bs_map.data_oe[0] = m.data_oe0;
  bs_map.data_oe[1] = m.data_oe1;
  bs_map.data_oe_read = 0;
  bs_map.data_oe_write = 0xFFFF;
  pxa_cs_pattern();
  std::uint32_t p = 0;
  for (auto [count, first] : m.pin_runs)
    for (std::uint32_t i = 0; i < count && p < 152; ++i, ++p) {
      bs_map.pin_out[p] = first - 2 * i;
      bs_map.pin_oe[p] = first - 2 * i + 1;
    }
  bs_map.pin_count = p;
  for (std::uint32_t c :
       {bs_map.address[0], bs_map.address[1], bs_map.address[2], bs_map.address[3], bs_map.rd_nwr,
        bs_map.n_we, bs_map.n_oe, bs_map.cs[0], bs_map.cs[1], bs_map.cs[2], bs_map.cs[3],
        bs_map.cle, bs_map.ale, bs_map.nand_we, bs_map.nand_re, bs_map.nand_cs0, bs_map.nand_cs1})
    set_cell(c + 1, 1);
  set_cells({bs_map.nand_cs0, bs_map.nand_cs1, bs_map.nand_we, bs_map.nand_re}, 1);
  release_static_bus();
}

void map_pxa320() {
  map_pxa3xx({510,
              {312, 308, 304, 300, 296, 292, 288, 284, 310, 306, 302, 298, 294, 290, 286, 282},
              {320, 318, 316, 314},
              {},
              {412, 410, 356, 354, 0, 0},
              348,
              346,
              238,
              334,
              332,
              330,
              328,
              326,
              313,
              309,
              {{5, 362},
               {5, 280},
               {1, 194},
               {38, 270},
               {14, 192},
               {11, 148},
               {59, 118},
               {8, 164},
               {4, 126}}});
}

void map_pxa300() {
  map_pxa3xx({430,
              {308, 304, 300, 296, 280, 276, 272, 268, 306, 302, 298, 294, 278, 274, 270, 266,
               94,  6,   76,  74,  72,  70,  194, 192, 190, 188, 186, 184, 248, 250, 206, 198},
              {316, 314, 312, 310},
              {26, 24, 22, 18, 282, 290, 334, 208, 210, 12, 16, 212, 214, 182},
              {330, 332, 262, 260, 0, 0},
              292,
              318,
              244,
              328,
              288,
              264,
              326,
              324,
              309,
              305,
              {{3, 338}, {24, 262}, {103, 204}, {5, 214}}});
}

void map_pxa310() {
  map_pxa3xx({444,
              {322, 318, 314, 310, 294, 290, 286, 282, 320, 316, 312, 308, 292, 288, 284, 280,
               102, 6,   84,  82,  80,  78,  202, 200, 198, 196, 194, 192, 262, 264, 68,  206},
              {330, 328, 326, 324},
              {26, 24, 22, 18, 296, 304, 348, 220, 222, 12, 16, 224, 226, 190},
              {344, 346, 276, 274, 0, 0},
              306,
              332,
              258,
              342,
              302,
              278,
              340,
              338,
              323,
              319,
              {{3, 352}, {24, 276}, {3, 218}, {69, 206}, {31, 60}, {4, 226}, {4, 68}}});
}

constexpr std::uint32_t ir_lengths[6] = {5, 5, 7, 11, 11, 11};

}  // namespace

std::uint32_t cpu_identify() {
  jtag_ir_length = 0;
  bs_map.extest = 0;
  bs_map.sample_preload = 0;
  std::fill(std::begin(bs_out), std::end(bs_out), 0u);

  std::uint32_t code = 0;
  jtag_scan_dr(nullptr, &code, 32);
  if ((code & 1) == 0) return 0;
  const std::uint32_t manufacturer = (code >> 1) & 0x7FF;
  const std::uint32_t part = (code >> 12) & 0xFFFF;
  const std::uint32_t version = code >> 28;

  int cpu = -1;
  if (manufacturer == 0x009) {
    target_description_set("Intel ");
    if (part == 0x9261) cpu = cpu_sa1110;
    if (part == 0x9264) cpu = cpu_pxa255;
    if (part == 0x9265) cpu = cpu_pxa270;
  }
  if (cpu < 0 && (manufacturer == 0x013 || manufacturer == 0x009)) {
    if (part == 0xE642) cpu = cpu_pxa320;
    if (part == 0xE648) cpu = cpu_pxa300;
    if (part == 0xE649) cpu = cpu_pxa310;
  }
  if (cpu < 0) return 0;

  target_description_append(part_names[cpu]);
  const char* stepping = steppings[cpu][version];
  target_description_append(stepping ? stepping : unknown_stepping);
  if (cpu == cpu_pxa300 || cpu == cpu_pxa310) debug_info("%s", target_description().c_str());

  cpu_type = static_cast<std::uint32_t>(cpu);
  jtag_ir_length = ir_lengths[cpu];
  if (cpu == cpu_pxa270 && jtag_speed_hz == 0 && (jtag_interface == 4 || jtag_interface == 5))
    usb_init_device(0);  // 6 MHz; the processor allows it, the result does not matter
  switch (cpu) {
    case cpu_sa1110:
      map_sa1110();
      break;
    case cpu_pxa255:
      map_pxa255();
      break;
    case cpu_pxa270:
      map_pxa270();
      break;
    case cpu_pxa320:
      map_pxa320();
      break;
    case cpu_pxa300:
      map_pxa300();
      break;
    default:
      map_pxa310();
      break;
  }
  return 1;
}

}  // namespace dz
