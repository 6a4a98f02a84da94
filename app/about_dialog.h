#pragma once
// The About box (template 103).
#include <cstdint>

#include "platform/ui.h"

namespace dz {

inline constexpr const char* build_date = "Aug 22 2014";

ui::DialogProc about_proc();
std::intptr_t run_about_dialog(ui::Window owner);

}  // namespace dz
