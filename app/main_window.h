#pragma once
// The main window (template 101): two halves, bootloader and image, each with its recent-file
// combo, file summary, interface choice, options and download button.
#include <cstdint>

#include "platform/ui.h"

namespace dz {

// The main window's dialog procedure.
ui::DialogProc main_window_proc();

// Runs the main window modally; returns its result (1 after Exit or close).
std::intptr_t run_main_window(ui::Window owner);

// Result of the last download job started from the main window (-1 before the first). The
// window itself ignores it; the command line reports it as its exit status.
int last_job_result();
void reset_main_window_state();

// The caption, "Quintar Loader 3. 3".
inline constexpr int version_major = 3;
inline constexpr int version_minor = 3;

}  // namespace dz
