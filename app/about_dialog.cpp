// The About box: the version line, closed by OK only.
#include "app/about_dialog.h"

#include <cstdio>

#include "app/main_window.h"
#include "resources/resource.h"

namespace dz {

ui::DialogProc about_proc() {
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) {
    // The template's text of 1021 is this very format; it is formatted with a fixed format here
    // so that no text from outside the program is ever used as a format.
    char text[128];
    std::snprintf(text, sizeof text, "Version %d.%.2d Built %s", version_major, version_minor,
                  build_date);
    ui::set_text(dlg, IDC_ABOUT_VERSION, text);
  };
  proc.command = [](ui::Window dlg, const ui::Command& command) {
    if (command.id == ui::IDOK) ui::end_dialog(dlg, ui::IDOK);
  };
  return proc;
}

std::intptr_t run_about_dialog(ui::Window owner) {
  return ui::run_dialog(IDD_ABOUT, owner, about_proc());
}

}  // namespace dz
