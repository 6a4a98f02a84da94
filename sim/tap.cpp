// The TAP controller and its registers.
#include "sim/tap.h"

#include <algorithm>

namespace dz::sim {
namespace {

using S = TapState;

// Next state by current state and TMS (IEEE 1149.1 figure 6-1).
constexpr TapState next_state[16][2] = {
    {S::run_test_idle, S::test_logic_reset},  // test_logic_reset
    {S::run_test_idle, S::select_dr},         // run_test_idle
    {S::capture_dr, S::select_ir},            // select_dr
    {S::shift_dr, S::exit1_dr},               // capture_dr
    {S::shift_dr, S::exit1_dr},               // shift_dr
    {S::pause_dr, S::update_dr},              // exit1_dr
    {S::pause_dr, S::exit2_dr},               // pause_dr
    {S::shift_dr, S::update_dr},              // exit2_dr
    {S::run_test_idle, S::select_dr},         // update_dr
    {S::capture_ir, S::test_logic_reset},     // select_ir
    {S::shift_ir, S::exit1_ir},               // capture_ir
    {S::shift_ir, S::exit1_ir},               // shift_ir
    {S::pause_ir, S::update_ir},              // exit1_ir
    {S::pause_ir, S::exit2_ir},               // pause_ir
    {S::shift_ir, S::update_ir},              // exit2_ir
    {S::run_test_idle, S::select_dr},         // update_ir
};

constexpr const char* state_names[16] = {
    "Test-Logic-Reset", "Run-Test/Idle",  "Select-DR-Scan", "Capture-DR",
    "Shift-DR",         "Exit1-DR",       "Pause-DR",       "Exit2-DR",
    "Update-DR",        "Select-IR-Scan", "Capture-IR",     "Shift-IR",
    "Exit1-IR",         "Pause-IR",       "Exit2-IR",       "Update-IR"};

constexpr std::uint32_t debug_length = 36;

}  // namespace

const char* tap_state_name(TapState state) {
  return state_names[static_cast<unsigned>(state) & 15];
}

Tap::Tap(const TapConfig& config, BoundaryHooks* hooks) : config_(config), hooks_(hooks) {
  const std::uint32_t longest = std::max<std::uint32_t>(config.boundary_length, 64);
  ring_.assign(longest, 1);
  scratch_.assign(longest, 0);
  // Power-up: Test-Logic-Reset with IDCODE in force (the owner is not told; it is still being
  // built).
  instruction_ = config_.idcode_instruction;
  selected_ = DataRegister::idcode;
}

void Tap::select_instruction(std::uint32_t instruction) {
  instruction_ = instruction;
  if (instruction == config_.idcode_instruction)
    selected_ = DataRegister::idcode;
  else if (instruction == config_.extest || instruction == config_.sample_preload)
    selected_ = config_.boundary_length > 0 ? DataRegister::boundary : DataRegister::bypass;
  else if (instruction == config_.debug_instruction)
    selected_ = DataRegister::debug;
  else
    selected_ = DataRegister::bypass;  // BYPASS (all ones) and every unknown code
  if (hooks_) hooks_->instruction_changed(instruction);
}

void Tap::trst() {
  state_ = TapState::test_logic_reset;
  select_instruction(config_.idcode_instruction);
}

void Tap::set_trst(bool asserted) {
  trst_held_ = asserted;
  if (asserted) trst();
}

void Tap::power_up(bool tck) {
  tck_ = tck;
  tdo_ = true;
  trst_held_ = false;
  ir_shift_ = 0;
  debug_value_ = 0;
  if (hooks_) hooks_->debug_update(0);
  trst();
}

void Tap::capture_dr() {
  head_ = 0;
  shift_count_ = 0;
  switch (selected_) {
    case DataRegister::bypass:
      ring_length_ = 1;
      ring_[0] = 0;
      break;
    case DataRegister::idcode:
      ring_length_ = 32;
      for (std::uint32_t i = 0; i < 32; ++i) ring_[i] = (config_.idcode >> i) & 1;
      break;
    case DataRegister::debug:
      ring_length_ = debug_length;
      for (std::uint32_t i = 0; i < debug_length; ++i) ring_[i] = (debug_value_ >> i) & 1;
      break;
    case DataRegister::boundary:
      ring_length_ = config_.boundary_length;
      ++boundary_captures_;
      if (hooks_)
        hooks_->boundary_capture(ring_.data(), ring_length_);
      else
        std::fill_n(ring_.begin(), ring_length_, 1);
      break;
  }
}

void Tap::update_dr() {
  last_shift_count_ = shift_count_;
  // Register bit i sits at ring position (head + i) mod length.
  const std::uint32_t n = ring_length_;
  const std::uint32_t first = n - head_;
  std::copy_n(ring_.begin() + head_, first, scratch_.begin());
  std::copy_n(ring_.begin(), head_, scratch_.begin() + first);
  switch (selected_) {
    case DataRegister::debug: {
      std::uint64_t v = 0;
      for (std::uint32_t i = 0; i < debug_length; ++i)
        v |= static_cast<std::uint64_t>(scratch_[i] & 1) << i;
      debug_value_ = v;
      if (hooks_) hooks_->debug_update(v);
      break;
    }
    case DataRegister::boundary:
      ++boundary_updates_;
      if (hooks_) hooks_->boundary_update(scratch_.data(), n);
      break;
    default:
      break;  // IDCODE and BYPASS have no update stage
  }
}

void Tap::rising_edge(bool tms, bool tdi) {
  ++cycles_;
  if (trst_held_) return;  // held in Test-Logic-Reset
  switch (state_) {
    case TapState::shift_dr: {
      std::uint8_t* cell = &ring_[head_];
      *cell = tdi;
      if (++head_ == ring_length_) head_ = 0;
      ++shift_count_;
      break;
    }
    case TapState::shift_ir:
      ir_shift_ = (ir_shift_ >> 1) | (static_cast<std::uint32_t>(tdi) << (config_.ir_length - 1));
      break;
    case TapState::capture_dr:
      capture_dr();
      break;
    case TapState::capture_ir:
      ir_shift_ = 1;  // ...01 as the standard asks
      break;
    default:
      break;
  }
  state_ = next_state[static_cast<unsigned>(state_)][tms ? 1 : 0];
  switch (state_) {
    case TapState::update_dr:
      update_dr();
      break;
    case TapState::update_ir:
      ++ir_updates_;
      select_instruction(ir_shift_ & ((1u << config_.ir_length) - 1));
      break;
    case TapState::test_logic_reset:
      if (instruction_ != config_.idcode_instruction)
        select_instruction(config_.idcode_instruction);
      break;
    default:
      break;
  }
}

void Tap::falling_edge() {
  // TDO changes on the falling edge and shows the register's next bit while shifting; outside
  // the shift states the output is off and the line's pull-up reads 1.
  if (state_ == TapState::shift_dr)
    tdo_ = ring_[head_] != 0;
  else if (state_ == TapState::shift_ir)
    tdo_ = (ir_shift_ & 1) != 0;
  else
    tdo_ = true;
}

}  // namespace dz::sim
