// Program entry.
#include "app/startup.h"

#include "app/main_window.h"
#include "app/production_test.h"
#include "platform/net.h"
#include "platform/port_io.h"
#include "platform/system.h"
#include "platform/ui.h"

namespace dz {

namespace {
constexpr std::size_t startup_directory_capacity = 256;  // including the terminator
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
    result = static_cast<int>(run_production_test(ui::no_window));
  else
    run_main_window(ui::no_window);
  net::cleanup();
  return result;
}

}  // namespace dz
