#pragma once
// Program entry and the process-wide facts it records for the port access (jtag/lpt.h).
#include <string>

#include "jtag/lpt.h"

namespace dz {

// Program entry: network start-up, the two facts of jtag/lpt.h, then the main window, or the
// production test window for the exact command line "-test". Returns 1 after either window.
int program_main(const std::string& command_line);

// Records port_driver_needed and startup_directory (the part of program entry that the command
// line shares).
void record_system_facts();

}  // namespace dz
