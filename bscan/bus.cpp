// Bus operations through the boundary-scan register.
#include "bscan/bus.h"

#include "bscan/cpu.h"
#include "jtag/cable.h"
#include "platform/clock.h"

namespace dz {

std::uint32_t nand_cs1_start = 0xFFFFFFFF;

namespace {

constexpr std::uint32_t out_bits = sizeof bs_out * 8;
constexpr std::uint32_t in_bits = sizeof bs_in * 8;

void set_one(std::uint32_t cell, std::uint32_t value) {
  bs_set_cells(&cell, value, 1);
}

}  // namespace

void bs_set_cells(const std::uint32_t* cells, std::uint32_t value, std::uint32_t count) {
  if (count > 32) count = 32;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t n = cells[i];
    if (n >= out_bits) continue;  // beyond the image: nothing to set
    const std::uint32_t mask = 1u << (n % 32);
    if ((value >> i) & 1)
      bs_out[n / 32] |= mask;
    else
      bs_out[n / 32] &= ~mask;
  }
}

std::uint32_t bs_get_cells(const std::uint32_t* image, const std::uint32_t* cells,
                           std::uint32_t count) {
  if (count > 32) count = 32;
  std::uint32_t value = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t n = cells[i];
    if (n >= in_bits) continue;
    value |= ((image[n / 32] >> (n % 32)) & 1) << i;
  }
  return value;
}

void bs_scan(bool capture) {
  if (capture && jtag_fast_programming) {
    // Of a capture only the data lines and the ready pin are ever looked at: in fast mode the
    // cable reads TDO for those cells alone.
    std::uint32_t wanted[sizeof bs_in / sizeof bs_in[0]] = {};
    const auto mark = [&wanted](std::uint32_t cell) {
      if (cell < in_bits) wanted[cell / 32] |= 1u << (cell % 32);
    };
    for (std::uint32_t cell : bs_map.data_in) mark(cell);
    mark(bs_map.ready);
    jtag_scan_dr_sampled(bs_out, bs_in, bs_map.bs_length, wanted);
    return;
  }
  jtag_scan_dr(bs_out, capture ? bs_in : nullptr, bs_map.bs_length);
}

std::uint32_t bs_wait_ready() {
  const std::uint32_t start = clock::tick_ms();
  for (;;) {
    bs_scan(true);
    if (bs_get_cells(bs_in, &bs_map.ready, 1)) return 1;
    if (clock::tick_ms() - start > 2000) return 0;
  }
}

namespace {

void nand_write_steps(std::uint32_t value) {
  bs_set_cells(bs_map.data_oe, 0xFFFF, 16);
  set_one(bs_map.nand_we, 0);
  bs_set_cells(bs_map.data_out, value, 16);
  bs_scan(false);
  set_one(bs_map.nand_we, 1);
  bs_set_cells(bs_map.data_oe, 0, 16);
  bs_scan(false);
  // The latch signals fall with the next scan of whatever operation comes next.
  set_one(bs_map.cle, 0);
  set_one(bs_map.ale, 0);
}

}  // namespace

std::uint32_t nand_cycle(std::uint32_t value, int kind) {
  switch (kind) {
    case nand_select:
      set_one(value < nand_cs1_start ? bs_map.nand_cs0 : bs_map.nand_cs1, 0);
      set_one(bs_map.cle, 0);
      set_one(bs_map.ale, 0);
      bs_scan(false);
      return 0;
    case nand_deselect:
      set_one(bs_map.nand_cs0, 1);
      set_one(bs_map.nand_cs1, 1);
      set_one(bs_map.n_we, 1);
      set_one(bs_map.n_oe, 1);
      bs_scan(false);
      return 0;
    case nand_read:
      set_one(bs_map.nand_re, 0);
      bs_scan(false);
      set_one(bs_map.nand_re, 1);
      bs_scan(true);
      return bs_get_cells(bs_in, bs_map.data_in, 16);
    case nand_command:
      set_one(bs_map.cle, 1);
      nand_write_steps(value);
      return 0;
    case nand_address:
      set_one(bs_map.ale, 1);
      nand_write_steps(value);
      return 0;
    default:
      nand_write_steps(value);
      return 0;
  }
}

std::uint32_t bs_bus_cycle(int phase, std::uint32_t address, std::uint32_t data, int capture) {
  bs_set_cells(bs_map.address, address & 0x03FFFFFF, 26);
  bs_set_cells(bs_map.cs, bs_map.cs_pattern[(address >> 26) & 63], 6);
  switch (phase) {
    case bus_read:
      set_one(bs_map.rd_nwr, 1);
      set_one(bs_map.n_oe, 0);
      set_one(bs_map.n_we, 1);
      bs_set_cells(bs_map.data_oe, bs_map.data_oe_read, 2);
      break;
    case bus_write_strobe:
    case bus_write_setup:
      set_one(bs_map.rd_nwr, 0);
      set_one(bs_map.n_oe, 1);
      set_one(bs_map.n_we, phase == bus_write_strobe ? 0 : 1);
      bs_set_cells(bs_map.data_oe, bs_map.data_oe_write, 2);
      bs_set_cells(bs_map.data_out, data, 32);
      break;
    case bus_idle:
      set_one(bs_map.rd_nwr, 0);
      set_one(bs_map.n_oe, 1);
      set_one(bs_map.n_we, 1);
      break;
    default:
      break;
  }
  if (capture) {
    bs_scan(true);
    return bs_get_cells(bs_in, bs_map.data_in, 32);
  }
  bs_scan(false);
  return 0;
}

void bs_start() {
  std::uint32_t debug[2] = {2, 0};
  jtag_load_ir(9);
  jtag_scan_dr(debug, debug, 36);
  clock::sleep_ms(10);
  jtag_set_reset_lines(0, 0);
  clock::sleep_ms(350);
  if (cpu_type == cpu_pxa320 || cpu_type == cpu_pxa300 || cpu_type == cpu_pxa310)
    clock::sleep_ms(2700);
  jtag_load_ir(bs_map.sample_preload);
  bs_scan(true);
  jtag_load_ir(bs_map.extest);
  bs_scan(false);
  clock::sleep_ms(600);
}

void bs_set_pin_enable(std::uint32_t position, std::uint32_t value) {
  if (position >= bs_map.pin_count || position >= 152) return;
  set_one(bs_map.pin_oe[position], value & 1);
  bs_scan(false);
}

void bs_set_pin_output(std::uint32_t position, std::uint32_t value) {
  if (position >= bs_map.pin_count || position >= 152) return;
  set_one(bs_map.pin_out[position], value & 1);
  bs_scan(false);
}

}  // namespace dz
