// The serial interface's settings: "ComPort" in the settings store and the "Serial Interface
// Settings" dialog.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/settings.h"
#include "resources/resource.h"
#include "serial/serial_download.h"

namespace dz {

namespace {

// The ports offered: those found, plus the configured one when it exists but was not found (a
// device path the scan does not cover, such as a USB adapter's by-id link or a pseudo-terminal).
std::vector<std::string> ports_to_offer(const std::string& configured) {
  std::vector<std::string> ports = serial::list_ports();
  if (!configured.empty() && std::find(ports.begin(), ports.end(), configured) == ports.end() &&
      serial::port_exists(configured)) {
    ports.push_back(configured);
  }
  return ports;
}

}  // namespace

int serial_load_settings() {
  auto key = settings::open_key(settings::main_key);
  if (!key) return 0;
  std::string value;
  if (key->read_string("ComPort", value, serial::port_name_capacity())) {
    set_com_port_name(value);
  } else {
    set_com_port_name(serial::default_port_name());
  }
  return 1;
}

int serial_save_settings() {
  auto key = settings::open_key(settings::main_key);
  if (!key) return 0;
  if (!key->write_string("ComPort", com_port_name())) return 0;
  return 1;
}

int serial_settings_dialog(ui::Window owner) {
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) {
    const std::string configured = com_port_name();
    for (const auto& port : ports_to_offer(configured)) ui::combo_add(dlg, IDC_COM_PORT, port);
    // The line always runs at 115200 baud; the speed list is shown but cannot be used.
    ui::enable(dlg, IDC_PORT_SPEED, false);
    ui::combo_select(dlg, IDC_COM_PORT, ui::combo_find_exact(dlg, IDC_COM_PORT, configured));
  };
  proc.command = [](ui::Window dlg, const ui::Command& command) {
    if (command.id == ui::IDOK) {
      const int selected = ui::combo_selection(dlg, IDC_COM_PORT);
      set_com_port_name(selected < 0 ? std::string{} : ui::combo_item(dlg, IDC_COM_PORT, selected));
      ui::end_dialog(dlg, 1);
    } else if (command.id == ui::IDCANCEL) {
      ui::end_dialog(dlg, 1);
    }
  };
  ui::run_dialog(IDD_SERIAL_SETTINGS, owner, std::move(proc));
  return 1;
}

}  // namespace dz
