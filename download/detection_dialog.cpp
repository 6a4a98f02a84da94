// The Device Detection dialog and its connection help.
#include "download/detection_dialog.h"

#include <cstdio>

#include "download/interface.h"
#include "platform/debug.h"
#include "platform/help.h"
#include "platform/thread.h"
#include "resources/resource.h"

namespace dz {

namespace {
// How long Abort waits for detect to notice the stop flag.
constexpr std::uint32_t detect_stop_wait_ms = 1000;
}  // namespace

const char* connection_help_topic(int interface_index) {
  switch (interface_index) {
    case jtag_interface_index:
      return "DividezUrirer.chm::/ConnectionJtag.htm";
    case serial_interface_index:
      return "DividezUrirer.chm::/ConnectionSerial.htm";
    default:
      return "";
  }
}

int run_detection_dialog(ui::Window owner, int interface_index) {
  if (interface_index < 0 || interface_index >= interface_count) {
    show_error("Unknown Download Interface (%d)", interface_index);
    return 0;
  }
  const DownloadInterface& record = download_interfaces[interface_index];
  if (record.detect == nullptr) {
    show_error("%s Cannot Detect a Device (no detect operation)", record.name);
    return 0;
  }
  detect_interface = interface_index;

  threads::Thread detection_thread;
  ui::DialogProc proc;
  proc.init = [&](ui::Window dlg, std::intptr_t) {
    stop_flag = 0;
    auto* detect = record.detect;
    detection_thread = threads::Thread::start([detect, dlg] { detect(dlg); });
    char caption[96];
    std::snprintf(caption, sizeof caption, "Device Detection (%.64s)", record.name);
    ui::set_caption(dlg, caption);
    // The help button is offered where there is a topic to show.
    if (*connection_help_topic(interface_index) != '\0') {
      ui::show(dlg, IDC_CONNECTION_HELP, true);
    }
  };
  proc.command = [&](ui::Window dlg, const ui::Command& command) {
    switch (command.id) {
      case ui::IDOK:
        ui::end_dialog(dlg, 1);
        break;
      case ui::IDCANCEL:
        stop_flag = 1;
        ui::end_dialog(dlg, 0);
        break;
      case IDC_CONNECTION_HELP: {
        const char* topic = connection_help_topic(interface_index);
        if (*topic != '\0') help::html_help(dlg, topic, help::HH_DISPLAY_TOPIC, 0);
        break;
      }
      default:
        break;
    }
  };
  const std::intptr_t result = ui::run_dialog(IDD_DETECTION, owner, proc);
  // detect has sent its answer or seen the stop flag; give it a bounded time to return, and
  // let a thread that does not let go finish on its own.
  if (detection_thread && !detection_thread.wait(detect_stop_wait_ms)) detection_thread.detach();
  return result == 1 ? 1 : 0;
}

}  // namespace dz
