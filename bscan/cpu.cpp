// Processor identification and the boundary-scan maps of the six supported processors: one
// record per processor (identification code, texts, instruction length, map and presets), so
// supporting a further processor means adding one record.
#include "bscan/cpu.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

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

using Cells32 = std::array<std::uint32_t, 32>;
using Cells26 = std::array<std::uint32_t, 26>;
using Windows = std::array<std::uint8_t, 64>;

constexpr std::uint32_t intel_code = 0x009;
constexpr std::uint32_t marvell_code = 0x013;
constexpr const char* unknown_stepping = " Unknown Stepping (Update Dividezurirer)\r\n";

// General-purpose pins in runs: position by position the output cell falls by `step`.
struct PinRun {
  std::uint32_t count;
  std::uint32_t first_out;
};

struct PinLayout {
  std::uint32_t step = 0;
  std::int32_t oe_offset = 0;  // output-enable cell = output cell + oe_offset
  std::span<const PinRun> runs{};
};

struct NandCells {
  std::uint32_t ready, ncs0, ncs1, nwe, nre, cle, ale;
};

// The cells of one processor. Fields a processor lacks (no NAND port, fewer than 16 data
// output-enable cells, no pin list) are left as an earlier identification wrote them.
struct CpuMap {
  std::uint32_t extest = 0;
  std::uint32_t sample_preload = 0;
  std::uint32_t bs_length = 0;
  Cells32 data_in{};
  Cells32 data_out{};
  std::array<std::uint32_t, 16> data_oe{};
  std::uint32_t data_oe_count = 0;
  std::uint32_t data_oe_read = 0;
  std::uint32_t data_oe_write = 0;
  Cells26 address{};
  std::array<std::uint32_t, 6> cs{};
  std::uint32_t n_oe = 0, n_we = 0, rd_nwr = 0;
  std::optional<NandCells> nand{};
  Windows cs_pattern{};
  PinLayout pins{};
};

// Applied to bs_out after the map: `ones` := 1, `zeros` := 0, then the static bus released
// (chip selects, nOE, nWE inactive), then pin position `pin_high` (if any) enabled and driven
// high, each with its own scan.
struct Presets {
  std::span<const std::uint32_t> ones{};
  std::span<const std::uint32_t> zeros{};
  std::optional<std::uint32_t> pin_high{};
};

struct CpuRecord {
  CpuType type;
  const char* name;  // part-name text of the description
  std::uint32_t part;
  bool accepts_marvell;                   // also accepted under Marvell's manufacturer code
  std::array<const char*, 16> steppings;  // by version field; nullptr = not listed
  bool log_description;                   // the description also goes to the diagnostic log
  bool fast_usb_clock;                    // re-initialise a USB adapter at 6 MHz if automatic
  std::uint32_t ir_length;
  CpuMap map;
  Presets presets;
};

// --- Cell layouts -------------------------------------------------------------------------

template <std::size_t N>
constexpr std::array<std::uint32_t, N> cells_from(std::uint32_t first, int step) {
  std::array<std::uint32_t, N> a{};
  for (std::size_t i = 0; i < N; ++i)
    a[i] = static_cast<std::uint32_t>(static_cast<int>(first) + step * static_cast<int>(i));
  return a;
}

// SA1110 data pins: D(8g + k) at 275 - 2g - 8k (input) and the next cell (output).
constexpr Cells32 sa1110_data(std::uint32_t offset) {
  Cells32 a{};
  for (std::uint32_t g = 0; g < 4; ++g)
    for (std::uint32_t k = 0; k < 8; ++k) a[8 * g + k] = 275 + offset - 2 * g - 8 * k;
  return a;
}

// 128 MiB per chip select, nCS0..nCS3 from 0, nCS4 and nCS5 from 1 GiB.
constexpr Windows sa1110_windows() {
  Windows w{};
  std::fill(w.begin(), w.end(), 0xFF);
  const std::uint8_t pairs[10] = {0xFE, 0xFD, 0xFB, 0xF7, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0xDF};
  for (std::size_t i = 0; i < 20; ++i) w[i] = pairs[i / 2];
  return w;
}

// 64 MiB per chip select, nCS0..nCS5 from 0.
constexpr Windows pxa_windows() {
  Windows w{};
  std::fill(w.begin(), w.end(), 0xFF);
  const std::uint8_t windows[6] = {0xFE, 0xFD, 0xFB, 0xF7, 0xEF, 0xDF};
  std::copy(std::begin(windows), std::end(windows), w.begin());
  return w;
}

// PXA3xx pads: one bidirectional cell per pin with its output enable in the next cell. A cell
// of 0 below stands for a line the processor lacks and becomes the placeholder bs_length.
struct Pxa3xxPads {
  std::uint32_t bs_length;
  Cells32 data;  // D4..D11 also carry A4..A11
  std::array<std::uint32_t, 4> addr_low;
  std::array<std::uint32_t, 14> addr_high;  // A12..A25
  std::array<std::uint32_t, 6> cs;
  std::uint32_t n_oe, n_we, rd_nwr;  // nOE is also CLE, nWE also ALE
  std::uint32_t ready, nand_cs0, nand_cs1, nand_we, nand_re;
  std::uint32_t data_oe0, data_oe1;
  std::span<const PinRun> pins;
};

constexpr CpuMap pxa3xx_map(const Pxa3xxPads& p) {
  auto cell = [&p](std::uint32_t c) { return c == 0 ? p.bs_length : c; };
  CpuMap m{.sample_preload = 3, .bs_length = p.bs_length};
  for (std::size_t i = 0; i < 32; ++i) m.data_in[i] = m.data_out[i] = cell(p.data[i]);
  for (std::size_t i = 0; i < 16; ++i) m.data_oe[i] = p.data[i] + 1;
  m.data_oe[0] = p.data_oe0;
  m.data_oe[1] = p.data_oe1;
  m.data_oe_count = 16;
  m.data_oe_write = 0xFFFF;
  for (std::size_t i = 0; i < 4; ++i) m.address[i] = p.addr_low[i];
  for (std::size_t i = 4; i < 12; ++i) m.address[i] = p.data[i];
  for (std::size_t i = 0; i < 14; ++i) m.address[12 + i] = cell(p.addr_high[i]);
  for (std::size_t k = 0; k < 6; ++k) m.cs[k] = cell(p.cs[k]);
  m.n_oe = p.n_oe;
  m.n_we = p.n_we;
  m.rd_nwr = p.rd_nwr;
  m.nand = NandCells{p.ready, p.nand_cs0, p.nand_cs1, p.nand_we, p.nand_re, p.n_oe, p.n_we};
  m.cs_pattern = pxa_windows();
  m.pins = {.step = 2, .oe_offset = 1, .runs = p.pins};
  return m;
}

// PXA3xx presets: the output enables (cell + 1) of the bus and NAND strobes, then the NAND
// strobes themselves inactive.
constexpr std::array<std::uint32_t, 21> pxa3xx_presets(const CpuMap& m) {
  const NandCells n = *m.nand;
  const std::uint32_t lines[17] = {m.address[0], m.address[1], m.address[2], m.address[3], m.rd_nwr,
                                   m.n_we,       m.n_oe,       m.cs[0],      m.cs[1],      m.cs[2],
                                   m.cs[3],      n.cle,        n.ale,        n.nwe,        n.nre,
                                   n.ncs0,       n.ncs1};
  std::array<std::uint32_t, 21> ones{};
  for (std::size_t i = 0; i < 17; ++i) ones[i] = lines[i] + 1;
  ones[17] = n.ncs0;
  ones[18] = n.ncs1;
  ones[19] = n.nwe;
  ones[20] = n.nre;
  return ones;
}

// --- The six processors ---------------------------------------------------------------------

constexpr std::uint32_t sa1110_ones[] = {
    0,   1,   2,   3,   6,   9,   15,  18,  24,  30,  54,  55,  56,  57,  58,  59,  60,  62,
    63,  64,  65,  66,  73,  75,  76,  78,  79,  85,  88,  91,  94,  97,  100, 103, 106, 109,
    112, 115, 118, 130, 133, 136, 139, 142, 145, 148, 151, 157, 160, 163, 166, 169, 174, 175,
    181, 187, 193, 196, 199, 202, 209, 210, 212, 272, 276, 277, 280, 283, 286, 289};
constexpr std::uint32_t pxa255_ones[] = {224, 15, 78, 79, 80, 33, 225, 226, 52, 53, 147, 148};
// The last five are the output enables of GPIO 15, 78, 79, 80 and 33, which carry nCS1..nCS5.
constexpr std::uint32_t pxa270_ones[] = {319, 320, 321, 69,  70,  73, 74,
                                         75,  182, 119, 118, 117, 164};
constexpr std::uint32_t pxa270_zeros[] = {58};
constexpr PinRun pxa270_pins[] = {{119, 318}};

constexpr PinRun pxa320_pins[] = {{5, 362},  {5, 280},  {1, 194}, {38, 270}, {14, 192},
                                  {11, 148}, {59, 118}, {8, 164}, {4, 126}};
constexpr PinRun pxa300_pins[] = {{3, 338}, {24, 262}, {103, 204}, {5, 214}};
constexpr PinRun pxa310_pins[] = {{3, 352}, {24, 276}, {3, 218}, {69, 206},
                                  {31, 60}, {4, 226},  {4, 68}};

constexpr CpuMap pxa320_map = pxa3xx_map({
    .bs_length = 510,
    .data = {312, 308, 304, 300, 296, 292, 288, 284, 310, 306, 302, 298, 294, 290, 286, 282},
    .addr_low = {320, 318, 316, 314},
    .addr_high = {},
    .cs = {412, 410, 356, 354, 0, 0},
    .n_oe = 348,
    .n_we = 346,
    .rd_nwr = 238,
    .ready = 334,
    .nand_cs0 = 332,
    .nand_cs1 = 330,
    .nand_we = 328,
    .nand_re = 326,
    .data_oe0 = 313,
    .data_oe1 = 309,
    .pins = pxa320_pins,
});

constexpr CpuMap pxa300_map = pxa3xx_map({
    .bs_length = 430,
    .data = {308, 304, 300, 296, 280, 276, 272, 268, 306, 302, 298, 294, 278, 274, 270, 266,
             94,  6,   76,  74,  72,  70,  194, 192, 190, 188, 186, 184, 248, 250, 206, 198},
    .addr_low = {316, 314, 312, 310},
    .addr_high = {26, 24, 22, 18, 282, 290, 334, 208, 210, 12, 16, 212, 214, 182},
    .cs = {330, 332, 262, 260, 0, 0},
    .n_oe = 292,
    .n_we = 318,
    .rd_nwr = 244,
    .ready = 328,
    .nand_cs0 = 288,
    .nand_cs1 = 264,
    .nand_we = 326,
    .nand_re = 324,
    .data_oe0 = 309,
    .data_oe1 = 305,
    .pins = pxa300_pins,
});

constexpr CpuMap pxa310_map = pxa3xx_map({
    .bs_length = 444,
    .data = {322, 318, 314, 310, 294, 290, 286, 282, 320, 316, 312, 308, 292, 288, 284, 280,
             102, 6,   84,  82,  80,  78,  202, 200, 198, 196, 194, 192, 262, 264, 68,  206},
    .addr_low = {330, 328, 326, 324},
    .addr_high = {26, 24, 22, 18, 296, 304, 348, 220, 222, 12, 16, 224, 226, 190},
    .cs = {344, 346, 276, 274, 0, 0},
    .n_oe = 306,
    .n_we = 332,
    .rd_nwr = 258,
    .ready = 342,
    .nand_cs0 = 302,
    .nand_cs1 = 278,
    .nand_we = 340,
    .nand_re = 338,
    .data_oe0 = 323,
    .data_oe1 = 319,
    .pins = pxa310_pins,
});

constexpr auto pxa320_ones = pxa3xx_presets(pxa320_map);
constexpr auto pxa300_ones = pxa3xx_presets(pxa300_map);
constexpr auto pxa310_ones = pxa3xx_presets(pxa310_map);

constexpr const char* a0 = " Stepping A0\r\n";
constexpr const char* a1 = " Stepping A1\r\n";
constexpr const char* a2 = " Stepping A2\r\n";
constexpr const char* b0 = " Stepping B0\r\n";
constexpr const char* b1 = " Stepping B1\r\n";
constexpr const char* b2 = " Stepping B2\r\n";

// Indexed by CpuType.
constexpr CpuRecord cpus[] = {
    {
        .type = cpu_sa1110,
        .name = "SA1110 ",
        .part = 0x9261,
        .accepts_marvell = false,
        .steppings = {a0, nullptr, nullptr, nullptr, b0, b1, b2, nullptr, " Stepping B4\r\n",
                      " Stepping B5\r\n"},
        .log_description = false,
        .fast_usb_clock = false,
        .ir_length = 5,
        .map =
            {
                .bs_length = 292,
                .data_in = sa1110_data(0),
                .data_out = sa1110_data(1),
                .data_oe = {212, 212},  // one active-low enable for the whole data bus
                .data_oe_count = 2,
                .data_oe_read = 3,
                .data_oe_write = 0,
                .address = cells_from<26>(28, 1),
                .cs = {54, 55, 56, 57, 58, 59},
                .n_oe = 72,
                .n_we = 73,
                .rd_nwr = 292,  // no such pin: the placeholder, which shifts nothing
                .cs_pattern = sa1110_windows(),
            },
        .presets = {.ones = sa1110_ones},
    },
    {
        .type = cpu_pxa255,
        .name = "PXA255 ",
        .part = 0x9264,
        .accepts_marvell = false,
        .steppings = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, a0},
        .log_description = false,
        .fast_usb_clock = false,
        .ir_length = 5,
        .map =
            {
                .bs_length = 410,
                .data_in = cells_from<32>(369, 1),
                .data_out = cells_from<32>(191, 1),
                .data_oe = {94, 93},
                .data_oe_count = 2,
                .data_oe_read = 0,
                .data_oe_write = 3,
                .address = cells_from<26>(247, 1),
                .cs = {246, 110, 173, 174, 175, 128},
                .n_oe = 245,
                .n_we = 244,
                .rd_nwr = 410,  // no such pin: the placeholder
                .cs_pattern = pxa_windows(),
            },
        .presets = {.ones = pxa255_ones},
    },
    {
        .type = cpu_pxa270,
        .name = "PXA270 ",
        .part = 0x9265,
        .accepts_marvell = false,
        .steppings = {a0, a1, b0, b1, " Stepping C0\r\n", nullptr, nullptr, " Stepping C5\r\n",
                      "M Stepping A1\r\n"},
        .log_description = false,
        .fast_usb_clock = true,
        .ir_length = 7,
        .map =
            {
                .sample_preload = 1,
                .bs_length = 504,
                .data_in = cells_from<32>(491, -1),
                .data_out = cells_from<32>(57, -1),
                .data_oe = {71, 72},
                .data_oe_count = 2,
                .data_oe_read = 0,
                .data_oe_write = 3,
                .address = cells_from<26>(25, -1),
                .cs = {61, 303, 240, 239, 238, 285},
                .n_oe = 60,
                .n_we = 59,
                .rd_nwr = 68,
                .cs_pattern = pxa_windows(),
                .pins = {.step = 1, .oe_offset = -121, .runs = pxa270_pins},  // GPIO p: 318 - p
            },
        .presets = {.ones = pxa270_ones, .zeros = pxa270_zeros, .pin_high = 2},
    },
    {
        .type = cpu_pxa320,
        .name = "PXA320 ",
        .part = 0xE642,
        .accepts_marvell = true,
        .steppings = {a0, a1, nullptr, nullptr, b0, b1, b2, " Stepping C0\r\n"},
        .log_description = false,
        .fast_usb_clock = false,
        .ir_length = 11,
        .map = pxa320_map,
        .presets = {.ones = pxa320_ones},
    },
    {
        .type = cpu_pxa300,
        .name = "PXA300 ",
        .part = 0xE648,
        .accepts_marvell = true,
        .steppings = {a0, a1, nullptr, nullptr, b0, b1, b2},
        .log_description = true,
        .fast_usb_clock = false,
        .ir_length = 11,
        .map = pxa300_map,
        .presets = {.ones = pxa300_ones},
    },
    {
        .type = cpu_pxa310,
        .name = "PXA310 ",
        .part = 0xE649,
        .accepts_marvell = true,
        .steppings = {a0, a1, a2, nullptr, b0, b1, b2},
        .log_description = true,
        .fast_usb_clock = false,
        .ir_length = 11,
        .map = pxa310_map,
        .presets = {.ones = pxa310_ones},
    },
};

constexpr bool indexed_by_type() {
  for (std::size_t i = 0; i < std::size(cpus); ++i)
    if (cpus[i].type != i) return false;
  return true;
}
static_assert(indexed_by_type(), "cpus[] is indexed by CpuType");

// --- Identification -------------------------------------------------------------------------

const CpuRecord* find_cpu(std::uint32_t manufacturer, std::uint32_t part) {
  for (const CpuRecord& c : cpus)
    if (c.part == part &&
        (manufacturer == intel_code || (manufacturer == marvell_code && c.accepts_marvell)))
      return &c;
  return nullptr;
}

void apply_pins(const PinLayout& pins) {
  std::uint32_t p = 0;
  for (const PinRun& run : pins.runs)
    for (std::uint32_t i = 0; i < run.count && p < std::size(bs_map.pin_out); ++i, ++p) {
      bs_map.pin_out[p] = run.first_out - pins.step * i;
      bs_map.pin_oe[p] = bs_map.pin_out[p] + static_cast<std::uint32_t>(pins.oe_offset);
    }
  bs_map.pin_count = p;
}

void apply_map(const CpuMap& m) {
  bs_map.extest = m.extest;
  bs_map.sample_preload = m.sample_preload;
  bs_map.bs_length = m.bs_length;
  std::copy(m.data_in.begin(), m.data_in.end(), bs_map.data_in);
  std::copy(m.data_out.begin(), m.data_out.end(), bs_map.data_out);
  std::copy_n(m.data_oe.begin(), m.data_oe_count, bs_map.data_oe);
  bs_map.data_oe_read = m.data_oe_read;
  bs_map.data_oe_write = m.data_oe_write;
  std::copy(m.address.begin(), m.address.end(), bs_map.address);
  std::copy(m.cs.begin(), m.cs.end(), bs_map.cs);
  bs_map.n_oe = m.n_oe;
  bs_map.n_we = m.n_we;
  bs_map.rd_nwr = m.rd_nwr;
  if (m.nand) {
    bs_map.ready = m.nand->ready;
    bs_map.nand_cs0 = m.nand->ncs0;
    bs_map.nand_cs1 = m.nand->ncs1;
    bs_map.nand_we = m.nand->nwe;
    bs_map.nand_re = m.nand->nre;
    bs_map.cle = m.nand->cle;
    bs_map.ale = m.nand->ale;
  }
  std::copy(m.cs_pattern.begin(), m.cs_pattern.end(), bs_map.cs_pattern);
  apply_pins(m.pins);
}

void apply_presets(const Presets& presets) {
  for (std::uint32_t cell : presets.ones) bs_set_cells(&cell, 1, 1);
  for (std::uint32_t cell : presets.zeros) bs_set_cells(&cell, 0, 1);
  bs_set_cells(bs_map.cs, 0x3F, 6);
  bs_set_cells(&bs_map.n_oe, 1, 1);
  bs_set_cells(&bs_map.n_we, 1, 1);
  if (presets.pin_high) {
    bs_set_pin_enable(*presets.pin_high, 1);
    bs_set_pin_output(*presets.pin_high, 1);
  }
}

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

  if (manufacturer == intel_code) target_description_set("Intel ");
  const CpuRecord* cpu = find_cpu(manufacturer, part);
  if (!cpu) return 0;

  target_description_append(cpu->name);
  const char* stepping = cpu->steppings[version];
  target_description_append(stepping ? stepping : unknown_stepping);
  if (cpu->log_description) debug_info("%s", target_description().c_str());

  cpu_type = cpu->type;
  jtag_ir_length = cpu->ir_length;
  if (cpu->fast_usb_clock && jtag_speed_hz == 0 && is_usb_adapter(jtag_interface))
    usb_init_device(0);  // 6 MHz; the processor allows it, the result does not matter
  apply_map(cpu->map);
  apply_presets(cpu->presets);
  return 1;
}

}  // namespace dz
