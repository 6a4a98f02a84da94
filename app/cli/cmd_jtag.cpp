// The 'jtag' command: the "JTAG Interface Settings" dialog, used by a scripted person who picks
// "JTAG" in the image half of the main window and presses "Interface Settings...". Settings load
// when the main window opens and save when it closes, as in the GUI.
#include <map>
#include <memory>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/script.h"
#include "jtag/cable.h"
#include "platform/port_io.h"
#include "resources/resource.h"

namespace dz::cli {
namespace {

struct JtagChoice {
  std::string adapter;  // belvona, zo, wiggler, insight, usb; empty = keep
  long speed_khz = -1;  // -1 = keep
  std::string port;     // "ParallelPort"; empty = keep
  std::string fast;     // "on", "off"; empty = keep
};

const std::map<std::string, int> adapter_buttons = {{"belvona", IDC_JTAG_BELVONA},
                                                    {"zo", IDC_JTAG_ZO},
                                                    {"wiggler", IDC_JTAG_WIGGLER},
                                                    {"insight", IDC_JTAG_INSIGHT},
                                                    {"usb", IDC_JTAG_USB}};

std::string adapter_label(std::uint32_t kind) {
  if (kind > last_adapter_kind) return "unknown (" + std::to_string(kind) + ")";
  switch (static_cast<AdapterKind>(kind)) {
    case AdapterKind::belvona:
      return "Belvona Parallel Port Adapter (belvona)";
    case AdapterKind::zo:
      return "Z&O Parallel Port Adapter (zo)";
    case AdapterKind::wiggler:
      return "Wiggler (wiggler)";
    case AdapterKind::insight:
      return "Insight / Xilinx III/IV (insight)";
    case AdapterKind::usb_amontec:
    case AdapterKind::usb_olimex:
      return "Olimex / Amontec USB to JTAG (usb)";
  }
  return "unknown (" + std::to_string(kind) + ")";
}

void show_choice() {
  say("JTAG adapter: " + adapter_label(jtag_interface));
  say("USB speed: " + (jtag_speed_hz == 0 ? std::string("automatic")
                                          : std::to_string(jtag_speed_hz / 1000) + " kHz"));
  say("Parallel port: " + port_io::effective_port_name());
  say(std::string("Fast programming: ") + (jtag_fast_programming ? "on" : "off"));
}

int run_jtag(const Globals& globals, const JtagChoice& choice) {
  return run_with_main_window(globals, [&](ui::Window main) {
    click_radio(main, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_JTAG);
    const ui::Window dlg = open_dialog(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
    if (dlg == ui::no_window) {
      warn("The JTAG Interface Settings dialog did not open.");
      return exit_failure;
    }
    if (choice.adapter.empty() && choice.speed_khz < 0 && choice.port.empty() &&
        choice.fast.empty()) {
      press(dlg, ui::IDCANCEL);
      show_choice();
      return exit_success;
    }
    if (!choice.adapter.empty()) {
      const int button = adapter_buttons.at(choice.adapter);
      click_radio(dlg, IDC_JTAG_BELVONA, IDC_JTAG_USB, button);
    }
    if (choice.speed_khz >= 0) type_text(dlg, IDC_JTAG_SPEED, std::to_string(choice.speed_khz));
    if (!choice.fast.empty()) click_check(dlg, IDC_JTAG_FAST, choice.fast == "on");
    // OK takes the adapter and the speed before it checks the USB library; a refused choice must
    // leave the settings as they were, so they are put back when the dialog stays open.
    const std::uint32_t old_interface = jtag_interface;
    const std::uint32_t old_speed = jtag_speed_hz;
    const std::uint32_t old_fast = jtag_fast_programming;
    press(dlg, ui::IDOK);
    if (!wait_closed(dlg, 1000)) {  // the dialog refused (USB library missing): it said why
      press(dlg, ui::IDCANCEL);
      wait_closed(dlg);
      jtag_interface = old_interface;
      jtag_speed_hz = old_speed;
      jtag_fast_programming = old_fast;
      warn("jtag: the choice was not accepted; the settings are unchanged.");
      return exit_failure;
    }
    if (!choice.port.empty()) port_io::set_port_name(choice.port);
    show_choice();
    return exit_success;
  });
}

}  // namespace

void add_jtag_command(CLI::App& app, Globals& globals) {
  auto* cmd = app.add_subcommand("jtag", "Show or choose the JTAG adapter and its speed");
  auto choice = std::make_shared<JtagChoice>();
  cmd->add_option("--adapter", choice->adapter, "Adapter: belvona, zo, wiggler, insight or usb")
      ->check(CLI::IsMember({"belvona", "zo", "wiggler", "insight", "usb"}));
  cmd->add_option("--speed", choice->speed_khz, "USB adapter TCK in kHz (0 = automatic, max 6000)")
      ->check(CLI::Range(0L, 4294967L));
  cmd->add_option("--port", choice->port,
                  "Parallel port to keep: /dev/parportN, or remote:HOST:PORT for a remote_bitbang "
                  "server such as dividezurirer-sim");
  cmd->add_option("--fast", choice->fast,
                  "Fast programming: on or off (same bytes on flash, less cable time)")
      ->check(CLI::IsMember({"on", "off"}));
  cmd->footer(
      "Without options: shows the current choice.\n"
      "Examples:\n"
      "  dividezurirer jtag\n"
      "  dividezurirer jtag --adapter wiggler\n"
      "  dividezurirer jtag --adapter usb --speed 6000\n"
      "  dividezurirer jtag --fast on\n"
      "  dividezurirer jtag --adapter belvona --port remote:127.0.0.1:3335\n"
      "USB adapters (Olimex ARM-USB-OCD/-H, Amontec JTAGkey/-2/-2P) are used through libftdi.\n"
      "When USB access is refused, install the udev rule shipped with the program\n"
      "(udev/60-dividezurirer.rules) into /etc/udev/rules.d/, run 'udevadm control --reload'\n"
      "and 'udevadm trigger', and join the group plugdev.");
  cmd->callback([&globals, choice] {
    globals.exit_status = settings_saved_status(run_jtag(globals, *choice));
  });
}

}  // namespace dz::cli
