#pragma once
// Test rigs for the cable layer: a port that records its traffic, a simulated processor behind a
// simulated parallel port, and a recorder of message boxes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "jtag/cable.h"
#include "jtag/lpt.h"
#include "platform/clock.h"
#include "platform/port_io.h"
#include "platform/ui_headless.h"
#include "sim/parallel_port.h"
#include "sim/pxa.h"

namespace dz::test {

inline void reset_cable_state(std::uint32_t kind) {
  port_io::release();
  port_io::set_simulated_port(nullptr);
  port_io::set_port_override("");
  port_io::set_port_name("");
  jtag_interface = kind;
  lpt_base = 0x378;
  wiggler_ctrl = 0;
  jtag_ir_length = 0;
  jtag_speed_hz = 0;
  jtag_fast_programming = 0;
  port_driver_needed = 0;
  startup_directory.clear();
  clock::use_virtual_clock();
}

struct Access {
  char op;  // 'w' or 'r'
  std::uint16_t address;
  std::uint8_t value;
  friend bool operator==(const Access&, const Access&) = default;
};

inline std::ostream& operator<<(std::ostream& os, const Access& a) {
  char text[32];
  std::snprintf(text, sizeof text, "%c %03X %02X", a.op, a.address, a.value);
  return os << text;
}

// Records every access; status reads return `status`.
class RecordingPort final : public port_io::Backend {
 public:
  void write(std::uint16_t address, std::uint8_t value) override {
    log.push_back({'w', address, value});
  }
  std::uint8_t read(std::uint16_t address) override {
    log.push_back({'r', address, status});
    return status;
  }
  std::vector<std::uint8_t> data_writes() const {
    std::vector<std::uint8_t> v;
    for (const auto& a : log)
      if (a.op == 'w' && a.address == 0x378) v.push_back(a.value);
    return v;
  }
  std::vector<Access> log;
  std::uint8_t status = 0;
};

// A message-box recorder on the headless host; answers OK.
class BoxRecorder {
 public:
  struct Box {
    std::string text, caption;
    unsigned flags;
    ui::Window owner;
  };
  BoxRecorder() {
    ui::headless::reset();
    ui::headless::set_answerer([this](ui::Window owner, const std::string& text,
                                      const std::string& caption, unsigned flags) {
      boxes.push_back({text, caption, flags, owner});
      return ui::IDOK;
    });
  }
  ~BoxRecorder() { ui::headless::reset(); }
  std::vector<Box> boxes;
};

// A simulated processor on a simulated parallel cable of `kind`, installed as the port.
struct SimRig {
  explicit SimRig(sim::CpuModel model, std::uint32_t kind = 0) : cpu(model), port(cpu, kind) {
    install(kind);
  }
  SimRig(sim::CpuModel model, std::uint32_t idcode, std::uint32_t kind)
      : cpu(model, idcode), port(cpu, kind) {
    install(kind);
  }
  ~SimRig() {
    port_io::release();
    port_io::set_simulated_port(nullptr);
  }
  void install(std::uint32_t kind) {
    reset_cable_state(kind);
    port_io::set_simulated_port(&port);
  }
  // Opens the cable and resets the TAP as detection does.
  bool open() { return jtag_open_cable() == 1 && jtag_reset_tap(1) == 1; }

  sim::Pxa cpu;
  sim::ParallelPortSim port;
};

}  // namespace dz::test
