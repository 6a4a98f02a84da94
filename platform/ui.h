#pragma once
// The dialog host: modal dialogs built from the templates in resources/, driven by a dialog
// procedure, with controls addressed by id, exactly as the Win32 dialogs are. The dialog logic of
// the whole program is written once against this interface; the headless host (ui_headless.h)
// runs it without a screen and reports what a person would see, a Win32 host shows real windows.
//
// Threads: a modal dialog's procedure runs on the thread that called run_dialog (its message
// loop also serves every other dialog of that thread, so nested dialogs work). Control state may
// be set and read from any thread; send_command from another thread is handled on the dialog's
// thread while the sender waits; post_command only queues.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A Windows source may include <windows.h> first, whose macros carry the same names as the
// constants below; they are set aside here and restored at the end.
#pragma push_macro("IDOK")
#undef IDOK
#pragma push_macro("IDCANCEL")
#undef IDCANCEL
#pragma push_macro("IDABORT")
#undef IDABORT
#pragma push_macro("IDRETRY")
#undef IDRETRY
#pragma push_macro("IDIGNORE")
#undef IDIGNORE
#pragma push_macro("IDYES")
#undef IDYES
#pragma push_macro("IDNO")
#undef IDNO
#pragma push_macro("MB_OK")
#undef MB_OK
#pragma push_macro("MB_OKCANCEL")
#undef MB_OKCANCEL
#pragma push_macro("MB_YESNO")
#undef MB_YESNO
#pragma push_macro("MB_ICONERROR")
#undef MB_ICONERROR
#pragma push_macro("MB_ICONQUESTION")
#undef MB_ICONQUESTION
#pragma push_macro("MB_ICONWARNING")
#undef MB_ICONWARNING
#pragma push_macro("MB_ICONINFORMATION")
#undef MB_ICONINFORMATION
#pragma push_macro("BN_CLICKED")
#undef BN_CLICKED
#pragma push_macro("CBN_SELCHANGE")
#undef CBN_SELCHANGE
#pragma push_macro("CBN_EDITCHANGE")
#undef CBN_EDITCHANGE
#pragma push_macro("CBN_SELENDOK")
#undef CBN_SELENDOK

namespace dz::ui {

using Window = std::uintptr_t;  // 0 = no window
inline constexpr Window no_window = 0;

// Answers of message_box and the usual command ids.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// message_box flags (the Win32 values).
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;

// WM_COMMAND notification codes used by the dialogs.
inline constexpr int BN_CLICKED = 0;
inline constexpr int CBN_SELCHANGE = 1;
inline constexpr int CBN_EDITCHANGE = 5;
inline constexpr int CBN_SELENDOK = 9;

// A WM_COMMAND: command id (low word of wParam), notification (high word), lParam. Where the
// Win32 program would pass a pointer to a text in lParam, `text` carries a copy instead, so a
// posted name stays intact whatever happens to its source meanwhile.
struct Command {
  int id = 0;
  int notification = 0;
  std::intptr_t param = 0;
  std::string text;
};

// A dialog procedure. Every member may be empty.
struct DialogProc {
  std::function<void(Window dlg, std::intptr_t init_param)> init;   // WM_INITDIALOG
  std::function<void(Window dlg, const Command& command)> command;  // WM_COMMAND
  std::function<void(Window dlg)> destroy;                          // WM_DESTROY
};

// Runs dialog template `template_id` modally and returns the value given to end_dialog.
std::intptr_t run_dialog(int template_id, Window owner, DialogProc proc,
                         std::intptr_t init_param = 0);
// Ends a modal dialog (from any thread); its run_dialog returns `result`.
void end_dialog(Window dlg, std::intptr_t result);
// WM_COMMAND, handled on the dialog's thread; send waits until it has been handled. Sending to a
// dialog that has ended does nothing.
void send_command(Window dlg, Command command);
void post_command(Window dlg, Command command);
Window parent(Window dlg);
bool is_open(Window dlg);
int template_of(Window dlg);

// Window caption and big icon.
void set_caption(Window dlg, std::string_view text);
std::string caption(Window dlg);
void set_icon(Window dlg, int icon_id);

// Control state by id.
void set_text(Window dlg, int id, std::string_view text);
std::string text(Window dlg, int id);
void append_text(Window dlg, int id, std::string_view text);  // EM_REPLACESEL at the end
void show(Window dlg, int id, bool visible);
bool is_visible(Window dlg, int id);
void enable(Window dlg, int id, bool enabled);
bool is_enabled(Window dlg, int id);
void check(Window dlg, int id, bool checked);
bool is_checked(Window dlg, int id);
// Checks `id` and clears the other radio buttons in [first, last] (CheckRadioButton).
void check_radio(Window dlg, int first, int last, int id);
void set_read_only(Window dlg, int id, bool read_only);
bool is_read_only(Window dlg, int id);

// Progress bars (PBM_SETRANGE32 with minimum 0, PBM_SETPOS).
void progress_range(Window dlg, int id, std::uint32_t maximum);
void progress_pos(Window dlg, int id, std::uint32_t position);
std::uint32_t progress_max(Window dlg, int id);
std::uint32_t progress_position(Window dlg, int id);

// Combo boxes (CB_*). A sorted combo (template style) inserts in case-insensitive order.
int combo_add(Window dlg, int id, std::string_view item);  // returns the index
int combo_insert(Window dlg, int id, int index, std::string_view item);
void combo_delete(Window dlg, int id, int index);
void combo_reset(Window dlg, int id);
int combo_count(Window dlg, int id);
std::string combo_item(Window dlg, int id, int index);
int combo_find_exact(Window dlg, int id, std::string_view item);  // ignores case; -1 = none
void combo_select(Window dlg, int id, int index);  // -1 clears; selecting sets the edit text
int combo_selection(Window dlg, int id);           // -1 = none

// List boxes (LB_*).
void list_reset(Window dlg, int id);
int list_add(Window dlg, int id, std::string_view item);
int list_count(Window dlg, int id);
std::string list_item(Window dlg, int id, int index);

// IP-address controls (IPM_SETADDRESS / IPM_GETADDRESS; first octet most significant).
void set_ip(Window dlg, int id, std::uint32_t address);
std::uint32_t ip(Window dlg, int id);

// MessageBoxA: returns IDOK, IDYES, IDNO, ...
int message_box(Window owner, std::string_view text, std::string_view caption, unsigned flags);

// GetOpenFileNameA. `path` holds the initial name; on acceptance it holds the chosen file and the
// result is true. `filters` are (description, pattern) pairs.
bool open_file(Window owner, std::string& path, std::string_view title,
               std::span<const std::pair<std::string, std::string>> filters);

// Paints the download flash map (512 cells of state bits) into control `id`.
void paint_flash_map(Window dlg, int id, std::span<const std::uint8_t, 512> cells);

}  // namespace dz::ui

#pragma pop_macro("IDOK")
#pragma pop_macro("IDCANCEL")
#pragma pop_macro("IDABORT")
#pragma pop_macro("IDRETRY")
#pragma pop_macro("IDIGNORE")
#pragma pop_macro("IDYES")
#pragma pop_macro("IDNO")
#pragma pop_macro("MB_OK")
#pragma pop_macro("MB_OKCANCEL")
#pragma pop_macro("MB_YESNO")
#pragma pop_macro("MB_ICONERROR")
#pragma pop_macro("MB_ICONQUESTION")
#pragma pop_macro("MB_ICONWARNING")
#pragma pop_macro("MB_ICONINFORMATION")
#pragma pop_macro("BN_CLICKED")
#pragma pop_macro("CBN_SELCHANGE")
#pragma pop_macro("CBN_EDITCHANGE")
#pragma pop_macro("CBN_SELENDOK")
