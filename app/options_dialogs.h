#pragma once
// The Bootloader Options (113) and Image Options (115) dialogs, and the loading and saving of the
// option values (download/options.h) in the main settings key.
#include <cstdint>

#include "platform/settings.h"
#include "platform/ui.h"

namespace dz {

ui::DialogProc bootloader_options_proc();
ui::DialogProc image_options_proc();
std::intptr_t run_bootloader_options(ui::Window owner);
std::intptr_t run_image_options(ui::Window owner);

// Loading reads each value in order; a value that cannot be read keeps its default. Saving writes
// in the same order and stops at the first failure (returns false then).
void load_bootloader_options(settings::Key& key);
bool save_bootloader_options(settings::Key& key);
void load_image_options(settings::Key& key);
bool save_image_options(settings::Key& key);

}  // namespace dz
