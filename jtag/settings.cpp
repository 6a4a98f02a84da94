// JTAG interface settings: load, save and the settings dialog.
#include "jtag/settings.h"

#include <charconv>
#include <string>

#include "jtag/cable.h"
#include "jtag/usb_adapter.h"
#include "platform/port_io.h"
#include "platform/settings.h"
#include "resources/resource.h"

namespace dz {
namespace {

constexpr const char* library_missing =
    "Cannot find or Load FTCJTAG.dll, Make sure you have installed Drivers Correctly.";
constexpr std::size_t port_name_capacity = 260;
// "JTAGFastProgramming" was read from the store or written to it.
bool fast_setting_stored = false;

void show_speed_field(ui::Window dlg, bool visible) {
  ui::show(dlg, IDC_JTAG_SPEED, visible);
  ui::show(dlg, IDC_JTAG_SPEED_LABEL, visible);
}

void on_init(ui::Window dlg) {
  bool usb = false;
  if (is_parallel_cable(jtag_interface)) {
    ui::check_radio(dlg, IDC_JTAG_BELVONA, IDC_JTAG_USB,
                    IDC_JTAG_BELVONA + static_cast<int>(jtag_interface));
  } else if (is_usb_adapter(jtag_interface)) {
    ui::check_radio(dlg, IDC_JTAG_BELVONA, IDC_JTAG_USB, IDC_JTAG_USB);
    usb = true;
  } else {
    ui::message_box(dlg, "Unknown JTAG interface selected", "Error", ui::MB_ICONERROR);
  }
  ui::set_text(dlg, IDC_JTAG_SPEED, std::to_string(jtag_speed_hz / 1000));
  show_speed_field(dlg, usb);
  ui::show(dlg, IDC_JTAG_SPEED_HINT, true);
  ui::check(dlg, IDC_JTAG_FAST, jtag_fast_programming != 0);
}

// The speed field as GetDlgItemInt reads it unsigned: optional blanks, digits, nothing else.
bool read_speed_khz(ui::Window dlg, std::uint32_t& khz) {
  const std::string text = ui::text(dlg, IDC_JTAG_SPEED);
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return false;
  std::size_t end = text.find_last_not_of(' ') + 1;
  auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + end, khz);
  return ec == std::errc{} && ptr == text.data() + end;
}

void on_ok(ui::Window dlg) {
  const std::uint32_t previous_interface = jtag_interface;
  const std::uint32_t previous_speed = jtag_speed_hz;
  const std::uint32_t previous_fast = jtag_fast_programming;
  // The radio buttons follow the parallel cables in table order; none of them checked is USB.
  std::uint32_t kind = adapter_number(AdapterKind::usb_amontec);
  for (const ParallelCable& cable : parallel_cables)
    if (ui::is_checked(dlg, IDC_JTAG_BELVONA + static_cast<int>(adapter_number(cable.kind)))) {
      kind = adapter_number(cable.kind);
      break;
    }
  jtag_interface = kind;
  std::uint32_t khz = 0;
  // Multiplied in 32 bits as the program always has; 4294968 kHz and up wrap around.
  if (read_speed_khz(dlg, khz)) jtag_speed_hz = khz * 1000u;
  jtag_fast_programming = ui::is_checked(dlg, IDC_JTAG_FAST) ? 1 : 0;
  if (jtag_interface == adapter_number(AdapterKind::usb_amontec) && !usb_library_available()) {
    ui::message_box(ui::no_window, library_missing, "Error", ui::MB_OK);
    // A refused choice does not stay in force: cancelling now keeps what was there, and the
    // close of the main window does not save an adapter that cannot be used.
    jtag_interface = previous_interface;
    jtag_speed_hz = previous_speed;
    jtag_fast_programming = previous_fast;
    return;
  }
  ui::end_dialog(dlg, ui::IDOK);
}

void on_command(ui::Window dlg, const ui::Command& command) {
  switch (command.id) {
    case IDC_JTAG_BELVONA:
    case IDC_JTAG_ZO:
    case IDC_JTAG_WIGGLER:
    case IDC_JTAG_INSIGHT:
      show_speed_field(dlg, false);
      break;
    case IDC_JTAG_USB:
      show_speed_field(dlg, true);
      break;
    case ui::IDOK:
      on_ok(dlg);
      break;
    case ui::IDCANCEL:
      ui::end_dialog(dlg, ui::IDCANCEL);
      break;
    default:
      break;
  }
}

}  // namespace

int jtag_load_settings() {
  auto key = settings::open_key(settings::main_key);
  if (!key) return 0;
  constexpr std::uint32_t default_kind = adapter_number(AdapterKind::usb_olimex);
  if (!key->read_dword("JTAGInterface", jtag_interface)) jtag_interface = default_kind;
  if (jtag_interface > last_adapter_kind) {
    // An adapter kind no cable layer knows would make every download wait for a processor that
    // can never answer.
    settings::report("settings value \"JTAGInterface\" is " + std::to_string(jtag_interface) +
                     ", not an adapter (0 to 5); the default 5 applies");
    jtag_interface = default_kind;
  }
  if (!key->read_dword("JTAGSpeed", jtag_speed_hz)) jtag_speed_hz = 2000000;
  // Any value but 0 turns fast programming on, as a check box stored as a number would.
  std::uint32_t fast = 0;
  fast_setting_stored = key->read_dword("JTAGFastProgramming", fast);
  jtag_fast_programming = fast_setting_stored && fast != 0 ? 1 : 0;
  std::string port;
  if (key->read_string("ParallelPort", port, port_name_capacity))
    port_io::set_port_name(port);
  else
    port_io::set_port_name(port_io::default_port_name());
  if (jtag_interface == adapter_number(AdapterKind::usb_amontec) && !usb_library_available()) {
    ui::message_box(ui::no_window, library_missing, "Error", ui::MB_OK);
    jtag_interface = adapter_number(AdapterKind::belvona);
  }
  return 1;
}

int jtag_save_settings() {
  auto key = settings::open_key(settings::main_key);
  if (!key) return 0;
  const bool interface_ok = key->write_dword("JTAGInterface", jtag_interface);
  const bool speed_ok = key->write_dword("JTAGSpeed", jtag_speed_hz);
  // Written once it exists or is on, so that a settings store from before the setting is not
  // rewritten by a run that changed nothing.
  if (fast_setting_stored || jtag_fast_programming != 0)
    fast_setting_stored = key->write_dword("JTAGFastProgramming", jtag_fast_programming);
  std::string port = port_io::port_name();
  if (port.empty()) port = port_io::default_port_name();
  key->write_string("ParallelPort", port);
  return interface_ok && speed_ok ? 1 : 0;
}

ui::DialogProc jtag_settings_dialog_proc() {
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) { on_init(dlg); };
  proc.command = on_command;
  return proc;
}

int jtag_settings_dialog(ui::Window owner) {
  ui::run_dialog(IDD_JTAG_SETTINGS, owner, jtag_settings_dialog_proc());
  return 1;
}

}  // namespace dz
