// The "Ethernet Interface Settings" dialog: the modules known and seen, their details, and the
// two options.
#include <cstdio>
#include <string>

#include "ethernet/ethernet_download.h"
#include "resources/resource.h"

namespace dz {
namespace {

std::string format_line(const char* format, auto... values) {
  char line[260];
  std::snprintf(line, sizeof line, format, values...);
  return line;
}

const char* cpu_name(std::uint8_t cpu_id) {
  switch (cpu_id) {
    case 0x10:
      return "CPU ID:\t\t\tSH3/SH4";
    case 0x20:
      return "CPU ID:\t\t\tR3000/R4102/R4111/R4200/Rr300";
    case 0x30:
      return "CPU ID:\t\t\ti486";
    case 0x40:
      return "CPU ID:\t\t\tSA1100/ARM720";
    case 0x50:
      return "CPU ID:\t\t\tPPC821";
    default:
      return "CPU ID:\t\t\t<unknown>";
  }
}

// Shows the details of the module chosen in the module box.
void show_selection(ui::Window dlg) {
  int index = ui::combo_selection(dlg, IDC_MODULE_BOX);
  if (index < 0) {
    ui::set_text(dlg, IDC_MODULE_BOX, no_device);
    return;
  }
  ui::list_reset(dlg, IDC_DEVICE_DETAILS);
  DeviceRecord record;
  if (!find_device(ui::combo_item(dlg, IDC_MODULE_BOX, index), record)) return;
  for (const auto& line : device_detail_lines(record)) ui::list_add(dlg, IDC_DEVICE_DETAILS, line);
}

void tell_main_window(const std::string& name) {
  ui::Window main = notify_window.load();
  if (main == ui::no_window) return;
  ui::send_command(main, ui::Command{IDC_DEVICE_NAME_NOTIFY, 0, 0, name});
}

void init(ui::Window dlg) {
  settings_window = dlg;
  ui::check(dlg, IDC_ACCEPT_ALL, accept_all.load() != 0);
  ui::check(dlg, IDC_FAST_DOWNLOAD, fast_download.load() != 0);
  std::string selected = selected_device();
  int chosen = -1;
  for (const auto& record : device_list()) {
    std::string name = record.info.device_name;
    int index = ui::combo_add(dlg, IDC_MODULE_BOX, name);
    if (chosen < 0 && name == selected) chosen = index;
  }
  ui::combo_select(dlg, IDC_MODULE_BOX, chosen);
  show_selection(dlg);
  start_listener(dlg);
}

// A module announced itself (the listener's notification 104).
void module_announced(ui::Window dlg, const std::string& name) {
  DeviceRecord record;
  if (!find_device(name, record)) return;
  int index = ui::combo_find_exact(dlg, IDC_MODULE_BOX, name);
  if (index < 0) {
    index = ui::combo_add(dlg, IDC_MODULE_BOX, name);
    if (device_count.load() == 1) {
      ui::combo_select(dlg, IDC_MODULE_BOX, index);
      show_selection(dlg);
      tell_main_window(name);
    }
    return;
  }
  ui::combo_select(dlg, IDC_MODULE_BOX, index);
  show_selection(dlg);
}

void command(ui::Window dlg, const ui::Command& c) {
  if (c.id == ui::IDOK && c.notification == ui::BN_CLICKED) {
    set_selected_device(ui::text(dlg, IDC_MODULE_BOX));
    tell_main_window(selected_device());
    accept_all = ui::is_checked(dlg, IDC_ACCEPT_ALL) ? 1 : 0;
    fast_download = ui::is_checked(dlg, IDC_FAST_DOWNLOAD) ? 1 : 0;
    ui::end_dialog(dlg, 1);
  } else if (c.id == ui::IDCANCEL && c.notification == ui::BN_CLICKED) {
    ui::end_dialog(dlg, 1);
  } else if (c.id == IDC_MODULE_BOX && c.notification == ui::CBN_SELENDOK) {
    show_selection(dlg);
  } else if (c.id == IDC_MODULE_BOX && c.notification == IDC_DEVICE_NAME_NOTIFY) {
    module_announced(dlg, c.text);
  }
}

void destroy(ui::Window) {
  stop_listener();
  settings_window = ui::no_window;
}

}  // namespace

std::vector<std::string> device_detail_lines(const DeviceRecord& record) {
  const BootmeInfo& i = record.info;
  std::vector<std::string> lines;
  lines.push_back(format_line("Device Info is:\t\t%s", record.valid ? "valid" : "invalid"));
  lines.push_back(format_line("Version:\t\t\t%d.%d", i.version_major, i.version_minor));
  lines.push_back(format_line("MAC address:\t\t%.2x:%.2x:%.2x:%.2x:%.2x:%.2x", i.mac[0], i.mac[1],
                              i.mac[2], i.mac[3], i.mac[4], i.mac[5]));
  lines.push_back(format_line("IP address:\t\t%d.%d.%d.%d", i.ip[0], i.ip[1], i.ip[2], i.ip[3]));
  lines.push_back(format_line("Platform ID:\t\t%s", i.platform_id));
  lines.push_back(format_line("Device Name:\t\t%s", i.device_name));
  lines.push_back(cpu_name(i.cpu_id));
  lines.push_back(i.bootme_version >= 2 ? format_line("Bootme version:\t\t%d", i.bootme_version)
                                        : std::string("Bootme version:\t\t<invalid>"));
  lines.push_back(format_line("Boot flags:\t\t%s", i.boot_flags == 0 ? "<none>"
                                                   : i.boot_flags == 1
                                                       ? "force download"
                                                       : "set current BOOTME version"));
  lines.push_back(format_line("Download port:\t\t%d", i.download_port));
  lines.push_back(format_line("Service port:\t\t%d", i.service_port));
  return lines;
}

int ethernet_settings_dialog(ui::Window owner) {
  notify_window = owner;
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) { init(dlg); };
  proc.command = command;
  proc.destroy = destroy;
  ui::run_dialog(IDD_ETHERNET_SETTINGS, owner, std::move(proc));
  return 1;
}

}  // namespace dz
