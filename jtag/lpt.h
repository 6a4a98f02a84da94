#pragma once
// The parallel-cable branch of opening and releasing the JTAG adapter: port access (the GIVEIO
// driver on Windows NT, the port device or a remote_bitbang link elsewhere) and the port address.
#include <cstdint>

namespace dz {

// Base address of the port to use: the "ParallelPort" setting when it names an I/O address
// ("0x278"), otherwise 0x378.
std::uint16_t lpt_find_base();
// 1 when the port is ready; 0 after "Error Loading GIVEIO.SYS" was shown.
int lpt_open();
// Always 1.
int lpt_close();

}  // namespace dz
