// The start-up facts that program entry records, for a test program without program entry.
#include "app/startup.h"

namespace dz {
int port_driver_needed = 0;
std::string startup_directory;
}  // namespace dz
