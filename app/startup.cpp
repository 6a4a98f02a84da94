// Program entry.
#include "app/startup.h"

#include "app/main_window.h"
#include "platform/net.h"
#include "platform/port_io.h"
#include "platform/system.h"
#include "platform/ui.h"

namespace dz {

namespace {
constexpr std::size_t startup_directory_capacity = 256;  // including the terminator

// The production test window is a separate piece of work that this build does not contain yet.
int production_test_unavailable() {
  ui::message_box(ui::no_window, "The production test mode is not available in this build.",
                  "Error", ui::MB_OK | ui::MB_ICONERROR);
  return 2;
}
}  // namespace

void record_system_facts() {
  // A simulated module in place of the parallel port is reached without the port driver.
  port_driver_needed = platform_is_nt() && port_io::simulated_port() == nullptr ? 1 : 0;
  startup_directory = current_directory();
  // A directory that does not fit the 256-character buffer is recorded empty rather than cut,
  // so that no file is ever looked for in a wrong directory.
  if (startup_directory.size() >= startup_directory_capacity) startup_directory.clear();
}

int program_main(const std::string& command_line) {
  net::startup();
  record_system_facts();
  int result = 1;
  if (command_line == "-test")
    result = production_test_unavailable();
  else
    run_main_window(ui::no_window);
  net::cleanup();
  return result;
}

}  // namespace dz
