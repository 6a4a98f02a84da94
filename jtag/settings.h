#pragma once
// The JTAG interface settings: adapter kind ("JTAGInterface"), USB TCK frequency ("JTAGSpeed"),
// fast programming ("JTAGFastProgramming", 0 or 1) and the parallel port to use ("ParallelPort"),
// with the "JTAG Interface Settings" dialog (116).
#include <cstdint>

#include "platform/ui.h"

namespace dz {

// 1 after reading, 0 when the settings key cannot be opened.
int jtag_load_settings();
// Shows dialog 116 modally; returns 1.
int jtag_settings_dialog(ui::Window owner);
// 1 when both values were written.
int jtag_save_settings();

// The dialog procedure (for scripted use of the dialog).
ui::DialogProc jtag_settings_dialog_proc();

}  // namespace dz
