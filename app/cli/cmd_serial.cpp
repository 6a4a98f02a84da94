// The 'serial' command: the "Serial Interface Settings" dialog, used by a scripted person who
// picks "Serial" in the image half of the main window and presses "Interface Settings...".
#include <string>
#include <vector>

#include "app/cli/commands.h"
#include "app/cli/script.h"
#include "platform/serial_port.h"
#include "resources/resource.h"
#include "serial/serial_download.h"

namespace dz::cli {

namespace {

std::vector<std::string> listed_ports(ui::Window dlg) {
  std::vector<std::string> ports;
  const int count = ui::combo_count(dlg, IDC_COM_PORT);
  for (int i = 0; i < count; ++i) ports.push_back(ui::combo_item(dlg, IDC_COM_PORT, i));
  return ports;
}

int run_serial(const Globals& globals, const std::string& port) {
  return run_with_main_window(globals, [&](ui::Window main) {
    click_radio(main, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_SERIAL);
    if (!port.empty()) {
      if (!serial::port_exists(port)) {
        warn("serial: '" + port + "' is not a serial port (no terminal device of that name).");
        return exit_failure;
      }
      if (port.size() >= serial::port_name_capacity()) {
        warn("serial: the port name is longer than " +
             std::to_string(serial::port_name_capacity() - 1) + " characters.");
        return exit_failure;
      }
    }
    // The dialog offers the configured port besides those the scan finds (a by-id link, ttyAMA0,
    // rfcomm0, a pseudo-terminal): the port is named first, then picked there as a person would.
    const std::string configured = com_port_name();
    if (!port.empty()) set_com_port_name(port);
    const ui::Window dlg = open_dialog(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_SERIAL_SETTINGS);
    if (dlg == ui::no_window) {
      set_com_port_name(configured);
      warn("The Serial Interface Settings dialog did not open.");
      return exit_failure;
    }
    const auto ports = listed_ports(dlg);
    if (port.empty()) {
      say("Serial ports found:");
      if (ports.empty()) say("  (none)");
      for (const auto& p : ports) say("  " + p);
      const int selected = ui::combo_selection(dlg, IDC_COM_PORT);
      say("Serial port chosen: " +
          (selected < 0 ? "(none; \"" + com_port_name() + "\" is not among the ports found)"
                        : ui::combo_item(dlg, IDC_COM_PORT, selected)));
      say("Line: 115200 baud, 8 data bits, no parity, 1 stop bit");
      press(dlg, ui::IDCANCEL);
      return exit_success;
    }
    const int index = ui::combo_find_exact(dlg, IDC_COM_PORT, port);
    if (index < 0) {
      warn("serial: '" + port + "' is not among the ports found:");
      for (const auto& p : ports) warn("  " + p);
      if (ports.empty()) warn("  (none)");
      press(dlg, ui::IDCANCEL);
      set_com_port_name(configured);
      return exit_failure;
    }
    ui::combo_select(dlg, IDC_COM_PORT, index);
    press(dlg, ui::IDOK);
    say("Serial port chosen: " + com_port_name());
    return exit_success;
  });
}

}  // namespace

void add_serial_command(CLI::App& app, Globals& globals) {
  auto* cmd = app.add_subcommand("serial", "Show the serial ports found and choose one");
  auto port = std::make_shared<std::string>();
  cmd->add_option("--port", *port,
                  "Choose this port and keep it: one of those found, or any other terminal device "
                  "(/dev/serial/by-id/..., /dev/ttyAMA0, /dev/rfcomm0, a pseudo-terminal)");
  cmd->footer(
      "Without --port: lists the serial ports found and the one chosen.\n"
      "Examples:\n"
      "  dividezurirer serial\n"
      "  dividezurirer serial --port /dev/ttyUSB0\n"
      "  dividezurirer serial --port /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0\n"
      "  dividezurirer --target sim:serial-bootloader image nk.bin --via serial");
  cmd->callback([&globals, port] {
    globals.exit_status = settings_saved_status(run_serial(globals, *port));
  });
}

}  // namespace dz::cli
