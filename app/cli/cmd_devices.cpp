// The 'devices' command: the Ethernet modules that announce themselves, through the "Ethernet
// Interface Settings" dialog as a person would use it (list, details, selection, options).
#include <chrono>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "app/cli/commands.h"
#include "app/cli/script.h"
#include "ethernet/device_list.h"
#include "platform/udp.h"
#include "resources/resource.h"

namespace dz::cli {
namespace {

struct DevicesRequest {
  double listen_seconds = 3;
  std::string select;
  std::string accept_all;  // "", "on" or "off"
  std::string fast;
};

// A detail line with its tab stops turned into one space, for the terminal.
std::string plain(const std::string& line) {
  return std::regex_replace(line, std::regex("\t+"), " ");
}

std::string seconds_text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", seconds);
  return text;
}

// Lets the dialog's listener collect announcements for the requested time (real time).
void listen(ui::Window dlg, const DevicesRequest& request) {
  say("Listening for BOOTME announcements for " + seconds_text(request.listen_seconds) + " s...");
  auto until = std::chrono::steady_clock::now() +
               std::chrono::milliseconds(static_cast<long long>(request.listen_seconds * 1000));
  while (std::chrono::steady_clock::now() < until && interrupts() == 0 && ui::is_open(dlg))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  sync(dlg);
}

struct ModuleBox {
  int chosen;  // the entry selected when the listing began (-1 = none)
  int count;   // the entries listed
};

// Lists every module in the box with its details, marking the chosen one.
ModuleBox list_modules(ui::Window dlg) {
  const int chosen = ui::combo_selection(dlg, IDC_MODULE_BOX);
  const int count = ui::combo_count(dlg, IDC_MODULE_BOX);
  say(count == 0 ? "No modules known." : "Modules (" + std::to_string(count) + "):");
  for (int i = 0; i < count; ++i) {
    std::string name = ui::combo_item(dlg, IDC_MODULE_BOX, i);
    ui::combo_select(dlg, IDC_MODULE_BOX, i);
    ui::send_command(dlg, ui::Command{IDC_MODULE_BOX, ui::CBN_SELENDOK, 0, {}});
    say((i == chosen ? "* " : "  ") + name);
    for (int l = 0; l < ui::list_count(dlg, IDC_DEVICE_DETAILS); ++l)
      say("      " + plain(ui::list_item(dlg, IDC_DEVICE_DETAILS, l)));
  }
  return {chosen, count};
}

struct StoredChoice {
  std::string name;  // the module selected in the settings
  bool listed;       // it is in the box (or there is none)
};

// Puts the box back on the chosen module. The module chosen earlier (kept in the settings) stays
// chosen when it has not announced itself in this run: OK takes the box's text, and "<no device>"
// there would lose it.
StoredChoice restore_choice(ui::Window dlg, int chosen) {
  ui::combo_select(dlg, IDC_MODULE_BOX, chosen);
  StoredChoice stored{selected_device(), false};
  stored.listed = chosen >= 0 || stored.name == no_device;
  ui::set_text(dlg, IDC_MODULE_BOX,
               chosen >= 0 ? ui::combo_item(dlg, IDC_MODULE_BOX, chosen) : stored.name);
  return stored;
}

// Selects the requested module by its entry in the box, else by typing its name.
void select_module(ui::Window dlg, const std::string& name, int count) {
  int index = -1;
  for (int i = 0; i < count; ++i)
    if (ui::combo_item(dlg, IDC_MODULE_BOX, i) == name) index = i;
  if (index >= 0) {
    ui::combo_select(dlg, IDC_MODULE_BOX, index);
    ui::send_command(dlg, ui::Command{IDC_MODULE_BOX, ui::CBN_SELENDOK, 0, {}});
  } else {
    type_text(dlg, IDC_MODULE_BOX, name);
    say("'" + name + "' has not announced itself; selected by name.");
  }
}

// Makes the requested selection and option changes in the dialog; true when there were any.
bool apply_changes(ui::Window dlg, const DevicesRequest& request, int count) {
  bool change = false;
  if (!request.select.empty()) {
    select_module(dlg, request.select, count);
    change = true;
  }
  if (!request.accept_all.empty()) {
    click_check(dlg, IDC_ACCEPT_ALL, request.accept_all == "on");
    change = true;
  }
  if (!request.fast.empty()) {
    click_check(dlg, IDC_FAST_DOWNLOAD, request.fast == "on");
    change = true;
  }
  return change;
}

void report_selection(const StoredChoice& stored) {
  const std::string selected = selected_device();
  if (selected == no_device)
    say("Selected module: (none)");
  else
    say("Selected module: " + selected +
        (selected == stored.name && !stored.listed ? " (has not announced itself in this run)"
                                                   : ""));
}

int list_devices(ui::Window main, const DevicesRequest& request) {
  click_radio(main, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_ETHERNET);
  const int errors_before = error_boxes_shown();
  ui::Window dlg = open_dialog(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
  if (dlg == ui::no_window) {
    warn("devices: the Ethernet Interface Settings dialog did not open.");
    return exit_failure;
  }
  listen(dlg, request);
  const ModuleBox box = list_modules(dlg);
  const StoredChoice stored = restore_choice(dlg, box.chosen);
  const bool listen_failed = error_boxes_shown() != errors_before;
  const bool change = apply_changes(dlg, request, box.count);
  say(std::string("Accept all Devices: ") + (ui::is_checked(dlg, IDC_ACCEPT_ALL) ? "on" : "off") +
      ", FastDownload (Experimental): " + (ui::is_checked(dlg, IDC_FAST_DOWNLOAD) ? "on" : "off"));
  // OK takes the selection and options; without changes the dialog is left with Cancel.
  press(dlg, change ? ui::IDOK : ui::IDCANCEL);
  wait_closed(dlg);
  report_selection(stored);
  if (interrupts() > 0) return exit_aborted;
  if (listen_failed) {
    warn("devices: cannot listen for BOOTME announcements (UDP port " +
         std::to_string(udp::bootme_listen_port()) + "); the list holds only known modules.");
    return exit_failure;
  }
  return exit_success;
}

}  // namespace

void add_devices_command(CLI::App& app, Globals& globals) {
  static DevicesRequest request;
  auto* cmd = app.add_subcommand(
      "devices", "Ethernet modules: list those that announce themselves (BOOTME), select one");
  cmd->add_option("--listen", request.listen_seconds,
                  "Listen for announcements for SECONDS before listing (default 3)")
      ->check(CLI::Range(0.0, 3600.0));
  cmd->add_option("--select", request.select,
                  "Make NAME the selected module (it need not have announced itself)");
  cmd->add_option("--accept-all", request.accept_all,
                  "\"Accept all Devices\": download to the first module that announces itself")
      ->check(CLI::IsMember({"on", "off"}));
  cmd->add_option("--fast", request.fast, "\"FastDownload (Experimental)\": windowed TFTP")
      ->check(CLI::IsMember({"on", "off"}));
  cmd->footer(
      "Examples:\n"
      "  dividezurirer devices --listen 10\n"
      "  dividezurirer devices --select PXA270-0042 --accept-all off\n"
      "  dividezurirer --target sim:ethernet-module,name=DEMO devices --fast on\n"
      "Modules announce themselves on UDP port 980, a privileged port on Linux: run as root, or\n"
      "grant the program the right once with\n"
      "  sudo setcap cap_net_bind_service=+ep \"$(command -v dividezurirer)\"\n"
      "Exit status: 0 success, 1 failure (also when the port cannot be listened on or the "
      "settings\n"
      "could not be saved), 3 aborted (Ctrl-C), 2 usage.");
  cmd->callback([&globals] {
    globals.exit_status = settings_saved_status(
        run_with_main_window(globals, [](ui::Window main) { return list_devices(main, request); }));
  });
}

}  // namespace dz::cli
