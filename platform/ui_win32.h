#pragma once
// What the Win32 dialog host offers beyond platform/ui.h: finding the dialogs it runs (for the
// program's self-checks and the GUI tests, which then drive them by window messages) and the
// raw command line tail of the process.
#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace dz::ui::win32 {

// The most recently opened dialog of that template that is still open and whose initialisation
// has run, or 0.
Window find_dialog(int template_id);
// Waits (real time) until a dialog of that template is open; returns it, or 0 on time-out.
Window wait_for_dialog(int template_id, std::uint32_t timeout_ms);
// Waits until `dlg` has ended and its window is gone; false on time-out.
bool wait_closed(Window dlg, std::uint32_t timeout_ms);
// The child control `id` of `dlg` (its window handle), or 0.
Window control(Window dlg, int id);

// The command line after the program name, as WinMain receives it (leading blanks removed).
std::string command_line_tail();

}  // namespace dz::ui::win32
