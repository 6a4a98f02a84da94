// The simulated processor: TAP plus pins.
#include "sim/pxa.h"

#include <algorithm>

namespace dz::sim {
namespace {

using namespace pins;

// Identification codes and JTAG instruction codes of the six processors. The default versions
// are common production steppings (PXA270 B0 = version 2, as OpenOCD's target files expect).
constexpr CpuModelInfo models[] = {
    {CpuModel::sa1110, "sa1110", 0x9261, 0x009, 8, 5, 0x06, 1, 292, 0},
    {CpuModel::pxa255, "pxa255", 0x9264, 0x009, 6, 5, 0x1E, 1, 410, 0},
    {CpuModel::pxa270, "pxa270", 0x9265, 0x009, 2, 7, 0x7E, 1, 504, 119},
    {CpuModel::pxa320, "pxa320", 0xE642, 0x013, 5, 11, 0x7FE, 3, 510, 145},
    {CpuModel::pxa300, "pxa300", 0xE648, 0x013, 6, 11, 0x7FE, 3, 430, 135},
    {CpuModel::pxa310, "pxa310", 0xE649, 0x013, 2, 11, 0x7FE, 3, 444, 138},
};

TapConfig tap_config(const CpuModelInfo& info, std::uint32_t idcode) {
  TapConfig c;
  c.idcode = idcode;
  c.ir_length = info.ir_length;
  c.idcode_instruction = info.idcode_instruction;
  c.extest = 0;
  c.sample_preload = info.sample_preload;
  c.debug_instruction = 9;
  c.boundary_length = info.boundary_length;
  return c;
}

}  // namespace

const CpuModelInfo& cpu_model_info(CpuModel model) {
  return models[static_cast<unsigned>(model)];
}

const CpuModelInfo* find_cpu_model(std::string_view name) {
  for (const auto& m : models)
    if (name == m.name) return &m;
  return nullptr;
}

std::string cpu_model_names() {
  std::string names;
  for (const auto& m : models) {
    if (!names.empty()) names += ", ";
    names += m.name;
  }
  return names;
}

std::uint32_t make_idcode(std::uint32_t version, std::uint32_t part, std::uint32_t manufacturer) {
  return (version & 0xF) << 28 | (part & 0xFFFF) << 12 | (manufacturer & 0x7FF) << 1 | 1;
}

Pxa::Pxa(CpuModel model)
    : Pxa(model,
          make_idcode(cpu_model_info(model).default_version, cpu_model_info(model).part_number,
                      cpu_model_info(model).manufacturer)) {}

Pxa::Pxa(CpuModel model, std::uint32_t idcode)
    : info_(&cpu_model_info(model)),
      pins_(build_pins(model)),
      tap_(tap_config(*info_, idcode), this),
      latches_(info_->boundary_length, 0) {
  pin_data_line_.assign(pins_.size(), -1);
  gpio_pin_.assign(info_->gpio_count, -1);
  for (std::size_t i = 0; i < pins_.size(); ++i)
    for (std::uint16_t f : pins_[i].functions) {
      if (f >= fn_d0 && f < fn_d0 + 32) pin_data_line_[i] = static_cast<std::int16_t>(f - fn_d0);
      if (f >= fn_gpio0 && static_cast<std::uint32_t>(f - fn_gpio0) < info_->gpio_count)
        gpio_pin_[f - fn_gpio0] = static_cast<std::int16_t>(i);
      if (f == fn_nand_ncs0) has_nand_port_ = true;
    }
  for (std::size_t i = 0; i < pins_.size(); ++i) {
    const Pin& pin = pins_[i];
    for (std::uint16_t f : pin.functions) {
      if (f >= fn_nand_ready) continue;  // inputs and general-purpose pins drive no bus line
      std::uint32_t mask = 0;
      if (f < fn_d0)
        mask = 1u << f;
      else if (f < fn_ncs0)
        mask = 1u << (f - fn_d0);
      else if (f < fn_noe)
        mask = 1u << (f - fn_ncs0);
      bus_routes_.push_back({pin.out, pin.oe, pin.oe_active_low, f, mask});
    }
    if (pin.in == no_cell) continue;
    const bool ready =
        std::find(pin.functions.begin(), pin.functions.end(), fn_nand_ready) != pin.functions.end();
    const std::uint32_t data = pin_data_line_[i] >= 0 ? 1u << pin_data_line_[i] : 0;
    input_routes_.push_back({pin.in, pin.out, pin.oe, pin.oe_active_low, ready, data});
  }
  drive_pins();
}

void Pxa::attach(BusDevice* device) {
  if (device != nullptr && std::find(devices_.begin(), devices_.end(), device) == devices_.end())
    devices_.push_back(device);
}

void Pxa::detach(BusDevice* device) {
  devices_.erase(std::remove(devices_.begin(), devices_.end(), device), devices_.end());
}

void Pxa::set_trst(bool asserted) {
  trst_ = asserted;
  if (powered_) tap_.set_trst(asserted);
}

void Pxa::set_powered(bool on) {
  if (on == powered_) return;
  powered_ = on;
  if (!on) return;
  std::fill(latches_.begin(), latches_.end(), std::uint8_t{0});
  tap_.power_up(tck_pin_);  // leaves EXTEST, so the pins are released
  drive_pins();
  if (trst_) tap_.set_trst(true);
}

bool Pxa::pin_driven(const Pin& pin) const {
  if (!extest_ || pin.out == no_cell) return false;
  if (pin.oe == no_cell) return true;
  return (latches_[pin.oe] != 0) != pin.oe_active_low;
}

bool Pxa::gpio_driven(std::uint32_t p) const {
  if (p >= gpio_pin_.size() || gpio_pin_[p] < 0) return false;
  return pin_driven(pins_[static_cast<std::size_t>(gpio_pin_[p])]);
}

bool Pxa::gpio_level(std::uint32_t p) const {
  if (p >= gpio_pin_.size() || gpio_pin_[p] < 0) return true;
  const Pin& pin = pins_[static_cast<std::size_t>(gpio_pin_[p])];
  return pin_driven(pin) ? latches_[pin.out] != 0 : true;
}

void Pxa::drive_pins() {
  StaticBus bus;
  bus.address = 0x03FFFFFF;
  NandPort nand;
  std::uint8_t ncs = bus.ncs;
  for (const BusRoute& r : bus_routes_) {
    const bool driven = cells_drive(r.out, r.oe, r.oe_active_low);
    const bool level = driven ? latches_[r.out] != 0 : true;  // undriven: pull-up
    const std::uint16_t f = r.function;
    if (f < fn_d0) {
      if (!level) bus.address &= ~r.mask;
    } else if (f < fn_ncs0) {
      if (driven) {
        bus.data_driven |= r.mask;
        if (!level) bus.data &= ~r.mask;
      }
    } else if (f < fn_noe) {
      if (!level) ncs = static_cast<std::uint8_t>(ncs & ~r.mask);
    } else {
      switch (f) {
        case fn_noe:
          bus.noe = level;
          break;
        case fn_nwe:
          bus.nwe = level;
          break;
        case fn_rd_nwr:
          bus.rd_nwr = level;
          break;
        case fn_nand_ncs0:
          nand.ncs0 = level;
          break;
        case fn_nand_ncs1:
          nand.ncs1 = level;
          break;
        case fn_nand_nwe:
          nand.nwe = level;
          break;
        case fn_nand_nre:
          nand.nre = level;
          break;
        case fn_cle:
          nand.cle = level;
          break;
        case fn_ale:
          nand.ale = level;
          break;
        default:
          break;
      }
    }
  }
  bus.ncs = ncs;
  if (has_nand_port_) {
    nand.data = static_cast<std::uint16_t>(bus.data);
    nand.data_driven = static_cast<std::uint16_t>(bus.data_driven);
  }
  bus_ = bus;
  nand_ = nand;
}

void Pxa::boundary_update(const std::uint8_t* cells, std::uint32_t count) {
  std::copy_n(cells, std::min<std::size_t>(count, latches_.size()), latches_.begin());
  if (!extest_) return;  // SAMPLE/PRELOAD: the latches change, the pins do not
  drive_pins();
  for (BusDevice* d : devices_) d->static_bus(bus_);
  if (has_nand_port_)
    for (BusDevice* d : devices_) d->nand_port(nand_);
}

void Pxa::boundary_capture(std::uint8_t* cells, std::uint32_t count) {
  const std::size_t n = std::min<std::size_t>(count, latches_.size());
  std::copy_n(latches_.begin(), n, cells);  // output and control cells capture their latches
  std::uint32_t device_data = 0xFFFFFFFF, device_mask = 0;
  bool ready = true;
  for (BusDevice* d : devices_) {
    std::uint32_t mask = 0;
    const std::uint32_t value = d->drive_data(mask);
    device_data = (device_data & ~mask) | (value & mask);
    device_mask |= mask;
    if (!d->ready()) ready = false;
  }
  for (const InputRoute& r : input_routes_) {
    if (r.in >= n) continue;
    bool level = true;
    if (cells_drive(r.out, r.oe, r.oe_active_low)) {
      level = latches_[r.out] != 0;
    } else if (r.data != 0) {
      level = (device_mask & r.data) ? (device_data & r.data) != 0 : true;
    } else if (r.ready) {
      level = ready;  // open-drain busy output against the pull-up
    }
    cells[r.in] = level ? 1 : 0;
  }
}

void Pxa::instruction_changed(std::uint32_t instruction) {
  const bool extest = instruction == tap_.config().extest;
  if (extest == extest_) return;
  extest_ = extest;
  drive_pins();
  for (BusDevice* d : devices_) d->static_bus(bus_);
  if (has_nand_port_)
    for (BusDevice* d : devices_) d->nand_port(nand_);
}

}  // namespace dz::sim
