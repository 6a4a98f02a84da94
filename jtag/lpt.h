#pragma once
// The parallel-cable branch of opening and releasing the JTAG adapter: port access (the GIVEIO
// driver on Windows NT, the port device or a remote_bitbang link elsewhere) and the port address.
#include <cstdint>
#include <string>

namespace dz {

// Facts that program entry records for the port access: 1 when the system is of the Windows NT
// family, where port access needs the port driver; and the current directory at start-up, at
// most 255 characters (the port driver file is looked for there).
extern int port_driver_needed;
extern std::string startup_directory;

// Base address of the port to use: the "ParallelPort" setting when it names an I/O address
// ("0x278"), otherwise 0x378.
std::uint16_t lpt_find_base();
// 1 when the port is ready; 0 otherwise, after "Error Loading GIVEIO.SYS" was shown unless
// `report` is 0.
int lpt_open(int report = 1);
// Leaves the cable idle (on the Wiggler with both reset lines released). Always 1.
int lpt_close();

}  // namespace dz
