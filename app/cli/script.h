#pragma once
// Scripting the dialogs on the headless host: the command line acts as a person who opens the
// main window, sets controls, presses buttons and answers dialogs from a second thread.
//
// A command typically reads:
//   return run_with_main_window(globals, [&](ui::Window main) {
//     ui::Window dlg = open_dialog(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
//     if (dlg == ui::no_window) return exit_failure;
//     click_check(dlg, IDC_FIX_IP, true);
//     press(dlg, ui::IDOK);
//     return exit_success;
//   });
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/cli/commands.h"
#include "platform/ui.h"

namespace dz::cli {

// Prepares the run from the global options (settings store, simulated target, debug echo,
// message-box answers, the terminal renderer, Ctrl-C), runs the main window (template 101) on
// this thread while `user` acts on another thread with the open window, then closes the window
// with command 2 so that settings save as on closing the GUI, and undoes the preparation.
// Returns the status `user` returned, or a failure status when the preparation failed (after
// saying why on standard error).
int run_with_main_window(const Globals& globals, const std::function<int(ui::Window main)>& user);

// The same for any dialog procedure that runs without the main window; `user` acts on the open
// dialog, which is ended with IDCANCEL if `user` returns without ending it.
int run_with_dialog(const Globals& globals, int template_id, ui::DialogProc proc,
                    const std::function<int(ui::Window dlg)>& user);

// A WM_COMMAND with that id and notification code.
inline ui::Command command_of(int id, int notification = 0) {
  ui::Command command;
  command.id = id;
  command.notification = notification;
  return command;
}

// Waits until a dialog of that template is open and has finished its initialisation; 0 on
// time-out (real time).
ui::Window wait_dialog(int template_id, std::uint32_t timeout_ms = 5000);
// Waits until the dialog has ended; false on time-out.
bool wait_closed(ui::Window dlg, std::uint32_t timeout_ms = 5000);
// Returns once every command queued for `dlg` before this call has been handled.
void sync(ui::Window dlg);

// Posts `command` to `owner` (a button that opens a modal dialog) and waits for that dialog.
ui::Window open_dialog(ui::Window owner, int command, int template_id,
                       std::uint32_t timeout_ms = 5000);

// Presses a button: WM_COMMAND id with BN_CLICKED, handled on the dialog's thread; returns when
// handled. A button that opens a modal dialog returns only when that dialog has ended: use
// open_dialog for those.
void press(ui::Window dlg, int id);
// Sets a check box or radio button the way a click would, and tells the dialog (BN_CLICKED).
void click_check(ui::Window dlg, int id, bool checked);
void click_radio(ui::Window dlg, int first, int last, int id);
// Types a text into an edit or combo field (CBN_EDITCHANGE is sent for combo boxes when asked).
void type_text(ui::Window dlg, int id, std::string_view text, bool notify_edit_change = false);

// Output that keeps the terminal renderer's live block intact.
void say(std::string_view line);   // standard output
void warn(std::string_view line);  // standard error

// `status`, or a failure after saying so when a command's settings could not be saved.
int settings_saved_status(int status);

// Error boxes ("Error" or "ERROR") shown so far in this process.
int error_boxes_shown();

// Ctrl-C count of this run (the first press aborts a running detection or download).
int interrupts();

}  // namespace dz::cli
