#pragma once
// The Device Detection dialog: runs an interface's detect on a thread of its own until the target
// answers or the user aborts.
#include "platform/ui.h"

namespace dz {

// Shows dialog 106 for download_interfaces[interface_index]; 1 when the target answered, 0 when
// detection was aborted or could not start (or the record has no detect operation).
int run_detection_dialog(ui::Window owner, int interface_index);

// The help topic of an interface's connection ("" when it has none).
const char* connection_help_topic(int interface_index);

}  // namespace dz
