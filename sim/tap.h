#pragma once
// An IEEE 1149.1 test access port: the sixteen-state controller clocked on TCK rising edges, the
// instruction register (Capture-IR loads ...01), IDCODE, BYPASS, the boundary register with
// Capture-DR / Update-DR, and the 36-bit debug register of instruction 9. What the boundary
// register captures and what its update does to the pins is left to the owner (BoundaryHooks).
//
// Shifting is one array access per clock: each data register is a ring of cells with a moving
// head, so an N-bit register shifted by any number of bits behaves exactly like a shift register.
#include <cstdint>
#include <vector>

namespace dz::sim {

enum class TapState : std::uint8_t {
  test_logic_reset,
  run_test_idle,
  select_dr,
  capture_dr,
  shift_dr,
  exit1_dr,
  pause_dr,
  exit2_dr,
  update_dr,
  select_ir,
  capture_ir,
  shift_ir,
  exit1_ir,
  pause_ir,
  exit2_ir,
  update_ir,
};
const char* tap_state_name(TapState state);

struct TapConfig {
  std::uint32_t idcode = 0;
  std::uint32_t ir_length = 0;  // 2..31
  std::uint32_t idcode_instruction = 0;
  std::uint32_t extest = 0;
  std::uint32_t sample_preload = 0;
  std::uint32_t debug_instruction = 9;
  std::uint32_t boundary_length = 0;
};

// The register selected by the current instruction.
enum class DataRegister : std::uint8_t { bypass, idcode, boundary, debug };

class BoundaryHooks {
 public:
  virtual ~BoundaryHooks() = default;
  // Capture-DR with the boundary register selected: write one 0/1 per cell.
  virtual void boundary_capture(std::uint8_t* cells, std::uint32_t count) = 0;
  // Update-DR with the boundary register selected: the cells' new update latches.
  virtual void boundary_update(const std::uint8_t* cells, std::uint32_t count) = 0;
  // The instruction in force changed (Update-IR, Test-Logic-Reset).
  virtual void instruction_changed(std::uint32_t instruction) = 0;
  // The debug register was updated (instruction 9).
  virtual void debug_update(std::uint64_t value) { (void)value; }
};

class Tap {
 public:
  Tap(const TapConfig& config, BoundaryHooks* hooks);

  // The TCK/TMS/TDI pin levels; a rising TCK clocks the controller, a falling one moves TDO.
  void set_pins(bool tck, bool tms, bool tdi) {
    if (tck != tck_) {
      tck_ = tck;
      if (tck)
        rising_edge(tms, tdi);
      else
        falling_edge();
    }
  }
  // One full cycle: falling then rising edge.
  void clock(bool tms, bool tdi) {
    set_pins(false, tms, tdi);
    set_pins(true, tms, tdi);
  }
  bool tdo() const { return tdo_; }
  bool tck() const { return tck_; }
  // One full cycle in Shift-DR with TCK high before and after: the same as set_pins(false, ...)
  // then set_pins(true, tms, tdi), without the dispatch. Returns TDO between the edges. Only
  // while state() is Shift-DR and TRST is not held.
  bool shift_dr_cycle(bool tms, bool tdi) {
    ++cycles_;
    const bool out = ring_[head_] != 0;  // falling edge: the next bit shows on TDO
    tdo_ = out;
    ring_[head_] = tdi;  // rising edge: TDI shifts in
    if (++head_ == ring_length_) head_ = 0;
    ++shift_count_;
    if (tms) state_ = TapState::exit1_dr;
    return out;
  }
  // TRST asserted: asynchronous reset to Test-Logic-Reset.
  void trst();
  // The TRST line's level: while it is asserted the controller stays in Test-Logic-Reset and
  // ignores TCK.
  void set_trst(bool asserted);
  bool trst_asserted() const { return trst_held_; }
  // Power applied: the controller starts in Test-Logic-Reset with IDCODE in force, the debug
  // register cleared. `tck` is the level the TCK pin has at that moment (no edge is seen).
  void power_up(bool tck);

  TapState state() const { return state_; }
  std::uint32_t instruction() const { return instruction_; }
  DataRegister selected() const { return selected_; }
  const TapConfig& config() const { return config_; }
  std::uint64_t debug_register() const { return debug_value_; }

  // Counters for tests and benchmarks.
  std::uint64_t tck_cycles() const { return cycles_; }
  std::uint64_t boundary_updates() const { return boundary_updates_; }
  std::uint64_t boundary_captures() const { return boundary_captures_; }
  std::uint64_t ir_updates() const { return ir_updates_; }
  // The number of Shift-DR clocks of the last completed data scan.
  std::uint32_t last_dr_shift_count() const { return last_shift_count_; }

 private:
  void rising_edge(bool tms, bool tdi);
  void falling_edge();
  void capture_dr();
  void update_dr();
  void select_instruction(std::uint32_t instruction);

  TapConfig config_;
  BoundaryHooks* hooks_;
  TapState state_ = TapState::test_logic_reset;
  bool tck_ = false;
  bool tdo_ = true;
  bool trst_held_ = false;
  std::uint32_t instruction_ = 0;
  std::uint32_t ir_shift_ = 0;
  DataRegister selected_ = DataRegister::idcode;
  std::uint64_t debug_value_ = 0;
  // The ring holding the selected data register while it is captured and shifted.
  std::vector<std::uint8_t> ring_;
  std::uint32_t ring_length_ = 1;
  std::uint32_t head_ = 0;
  std::uint32_t shift_count_ = 0;
  std::uint32_t last_shift_count_ = 0;
  std::vector<std::uint8_t> scratch_;
  std::uint64_t cycles_ = 0;
  std::uint64_t boundary_updates_ = 0;
  std::uint64_t boundary_captures_ = 0;
  std::uint64_t ir_updates_ = 0;
};

}  // namespace dz::sim
