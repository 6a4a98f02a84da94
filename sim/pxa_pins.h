#pragma once
// The pin model of each simulated processor: every bus pin with the boundary cell that drives it,
// the cell that enables its driver (and whether that enable is active low) and the cell that
// samples it. One physical pin may serve several functions (PXA3xx: nOE is also the NAND CLE,
// the data pins D4..D11 also carry A4..A11, some general-purpose pins are chip selects).
#include <cstdint>
#include <vector>

namespace dz::sim {
enum class CpuModel : std::uint8_t;
}

namespace dz::sim::pins {

// Pin functions.
inline constexpr std::uint16_t fn_a0 = 0;     // A0..A25 = 0..25
inline constexpr std::uint16_t fn_d0 = 26;    // D0..D31 = 26..57
inline constexpr std::uint16_t fn_ncs0 = 58;  // nCS0..nCS5 = 58..63
inline constexpr std::uint16_t fn_noe = 64;
inline constexpr std::uint16_t fn_nwe = 65;
inline constexpr std::uint16_t fn_rd_nwr = 66;
inline constexpr std::uint16_t fn_nand_ncs0 = 67;
inline constexpr std::uint16_t fn_nand_ncs1 = 68;
inline constexpr std::uint16_t fn_nand_nwe = 69;
inline constexpr std::uint16_t fn_nand_nre = 70;
inline constexpr std::uint16_t fn_cle = 71;
inline constexpr std::uint16_t fn_ale = 72;
inline constexpr std::uint16_t fn_nand_ready = 73;  // input only
inline constexpr std::uint16_t fn_gpio0 = 80;       // GPIO p = 80 + p

inline constexpr std::uint16_t no_cell = 0xFFFF;

struct Pin {
  std::uint16_t out = no_cell;  // output cell (no_cell: input-only pin)
  std::uint16_t oe = no_cell;   // output-enable cell (no_cell: always driven in EXTEST)
  std::uint16_t in = no_cell;   // input cell (may equal `out` for bidirectional cells)
  bool oe_active_low = false;
  std::vector<std::uint16_t> functions;
};

std::vector<Pin> build_pins(CpuModel model);

}  // namespace dz::sim::pins
