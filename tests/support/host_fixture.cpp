// The shared fixture of the dialog and download suites.
#include "tests/support/host_fixture.h"

#include "app/main_window.h"
#include "download/interface.h"
#include "download/job.h"
#include "download/options.h"
#include "ethernet/device_list.h"
#include "ethernet/tftp.h"
#include "flash/nand_flash.h"
#include "flash/strata_flash.h"
#include "jtag/cable.h"
#include "jtag/usb_adapter.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/ftdi.h"
#include "platform/help.h"
#include "platform/port_io.h"
#include "platform/settings.h"
#include "platform/udp.h"
#include "serial/serial_download.h"

namespace dz::test {

namespace {

void reset_cable() {
  port_io::release();
  port_io::set_simulated_port(nullptr);
  port_io::set_port_override("");
  port_io::set_port_name("");
  jtag_interface = 0;
  lpt_base = 0x378;
  wiggler_ctrl = 0;
  jtag_ir_length = 0;
  jtag_speed_hz = 0;
  ftdi::set_simulated_bus(nullptr);
  usb_handle = 0;
  usb_hispeed = 0;
  usb_pending_bits = 0;
  usb_device_name[0] = '\0';
  jtag_fast_programming = 0;
}

}  // namespace

void reset_all_modules() {
  settings::use_memory_store();
  reset_options_state();
  abort_flag = 0;
  stop_flag = 0;
  test_mode_flag = 0;
  reset_cable();
  target_description_clear();
  reset_strata_state();
  reset_nand_state();
  reset_serial_state();
  reset_device_list_state();
  reset_tftp_state();
  udp::set_edbg_ports(0, 0);
  reset_main_window_state();
  debug_echo_flag = 1;
}

void HostTest::SetUp() {
  ui::headless::reset();
  clock::use_virtual_clock();
  reset_all_modules();
  {  // a test may run SetUp again to start a case afresh
    std::lock_guard guard(lock_);
    boxes_.clear();
    events_.clear();
    debug_lines_.clear();
  }
  ui::headless::subscribe([this](const Event& e) {
    std::lock_guard guard(lock_);
    events_.push_back(e);
  });
  ui::headless::set_answerer([this](ui::Window owner, const std::string& text,
                                    const std::string& caption, unsigned flags) {
    std::lock_guard guard(lock_);
    boxes_.push_back({text, caption, flags, owner});
    if ((flags & ui::MB_YESNO) == ui::MB_YESNO) return answer_yes_ ? ui::IDYES : ui::IDNO;
    return ui::IDOK;
  });
  debug::set_sink([this](std::string_view line) {
    std::lock_guard guard(lock_);
    debug_lines_.emplace_back(line);
  });
}

void HostTest::TearDown() {
  ui::headless::reset();
  debug::set_sink(nullptr);
  help::set_handler(nullptr);
  reset_all_modules();
  clock::use_real_clock();
}

std::vector<Box> HostTest::boxes() {
  std::lock_guard guard(lock_);
  return boxes_;
}

std::vector<std::string> HostTest::box_texts() {
  std::vector<std::string> out;
  for (const auto& b : boxes()) out.push_back(b.text);
  return out;
}

std::vector<std::string> HostTest::box_lines() {
  std::vector<std::string> out;
  for (const auto& b : boxes()) out.push_back(b.caption + ": " + b.text);
  return out;
}

void HostTest::clear_boxes() {
  std::lock_guard guard(lock_);
  boxes_.clear();
}

std::vector<HostTest::Event> HostTest::events() {
  std::lock_guard guard(lock_);
  return events_;
}

std::vector<HostTest::Event> HostTest::events_of(EventKind kind, int template_id, int control) {
  std::vector<Event> out;
  for (const auto& e : events()) {
    if (e.kind == kind && e.template_id == template_id && (control < 0 || e.control == control))
      out.push_back(e);
  }
  return out;
}

std::vector<std::string> HostTest::texts(int template_id, int control) {
  std::vector<std::string> out;
  for (const auto& e : events_of(EventKind::text_changed, template_id, control))
    out.push_back(e.text);
  return out;
}

std::string HostTest::appended(int template_id, int control) {
  std::string out;
  for (const auto& e : events_of(EventKind::text_appended, template_id, control)) out += e.text;
  return out;
}

std::vector<std::uint64_t> HostTest::values(EventKind kind, int template_id, int control) {
  std::vector<std::uint64_t> out;
  for (const auto& e : events_of(kind, template_id, control)) out.push_back(e.value);
  return out;
}

bool HostTest::was_shown(int template_id, int control) {
  for (const auto& e : events_of(EventKind::visibility_changed, template_id, control)) {
    if (e.value == 1) return true;
  }
  return false;
}

int HostTest::dialogs_opened(int template_id) {
  return static_cast<int>(events_of(EventKind::dialog_opened, template_id).size());
}

std::vector<std::string> HostTest::debug_lines() {
  std::lock_guard guard(lock_);
  return debug_lines_;
}

int HostTest::count_lines(std::string_view text) {
  int n = 0;
  for (const auto& l : debug_lines())
    if (l.find(text) != std::string::npos) ++n;
  return n;
}

}  // namespace dz::test
