#pragma once
// Bus operations through the boundary-scan register (EXTEST): cell groups, static-memory bus
// phases, NAND actions, the ready pin and single general-purpose pins.
#include <cstdint>

namespace dz {

enum BusPhase : int { bus_read = 0, bus_write_strobe = 1, bus_write_setup = 2, bus_idle = 3 };
enum NandKind : int {
  nand_deselect = 0,
  nand_read = 1,
  nand_data = 2,
  nand_command = 4,
  nand_address = 8,
  nand_select = 0xFF,
};

extern std::uint32_t nand_cs1_start;  // first NAND address on chip select 1; 0xFFFFFFFF if none

void bs_set_cells(const std::uint32_t* cells, std::uint32_t value, std::uint32_t count);
std::uint32_t bs_get_cells(const std::uint32_t* image, const std::uint32_t* cells,
                           std::uint32_t count);
// One scan of bs_length bits; with capture into bs_in.
void bs_scan(bool capture);
std::uint32_t bs_wait_ready();
std::uint32_t nand_cycle(std::uint32_t value, int kind);
std::uint32_t bs_bus_cycle(int phase, std::uint32_t address, std::uint32_t data, int capture);
void bs_start();
void bs_set_pin_enable(std::uint32_t position, std::uint32_t value);
void bs_set_pin_output(std::uint32_t position, std::uint32_t value);

}  // namespace dz
