#pragma once
// Program entry and the process-wide facts it records.
#include <string>

namespace dz {

// 1 when the system is of the Windows NT family, where port access needs the port driver.
extern int port_driver_needed;
// Current directory at start-up, at most 255 characters (the port driver file is looked for here).
extern std::string startup_directory;

// Program entry: network start-up, the two facts above, then the main window, or the production
// test window for the exact command line "-test". Returns 1 after the main window, another
// nonzero value when the production test cannot run.
int program_main(const std::string& command_line);

// Records port_driver_needed and startup_directory (the part of program entry that the command
// line shares).
void record_system_facts();

}  // namespace dz
