#pragma once
// The headless dialog host: what it shows is reported as events, and message boxes and file
// requests are answered by a script (tests) or a prompter (the command line).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace dz::ui::headless {

enum class EventKind {
  dialog_opened,       // dlg, template_id, value = owner
  dialog_closed,       // dlg, template_id, value = result
  caption_changed,     // dlg, text
  text_changed,        // dlg, control, text
  text_appended,       // dlg, control, text (the appended part)
  visibility_changed,  // dlg, control, value = 1 shown / 0 hidden
  enabled_changed,     // dlg, control, value
  check_changed,       // dlg, control, value
  progress_range,      // dlg, control, value = maximum
  progress_pos,        // dlg, control, value = position
  items_changed,       // dlg, control (combo or list contents or selection)
  map_painted,         // dlg, control, map
  message_box,         // dlg = owner, text, caption, value = flags, result = answer
};

struct Event {
  EventKind kind{};
  Window dlg = no_window;
  int template_id = 0;
  int control = 0;
  std::string text;
  std::string caption;
  std::uint64_t value = 0;
  std::intptr_t result = 0;
  std::vector<std::uint8_t> map;  // map_painted only: the 512 cells
};

// Observers are called on the thread that caused the event, in subscription order; they must not
// block for long. Returns a token for unsubscribe.
using Observer = std::function<void(const Event&)>;
int subscribe(Observer observer);
void unsubscribe(int token);

// Decides message-box answers: (owner, text, caption, flags) -> IDOK/IDYES/IDNO/... When none is
// set, boxes with MB_YESNO are answered IDNO and all others IDOK.
using Answerer = std::function<int(Window owner, const std::string& text,
                                   const std::string& caption, unsigned flags)>;
Answerer set_answerer(Answerer answerer);

// Decides open-file requests: (initial path) -> chosen path, or nothing for Cancel.
using FilePicker = std::function<std::optional<std::string>(const std::string& initial)>;
FilePicker set_file_picker(FilePicker picker);

// The most recently opened dialog of that template that is still open and whose init has run
// (as a person would first see it), or 0.
Window find_dialog(int template_id);
// Waits (real time) until a dialog of that template is open; returns it, or 0 on time-out.
Window wait_for_dialog(int template_id, std::uint32_t timeout_ms);
// Waits until `dlg` has ended; false on time-out.
bool wait_closed(Window dlg, std::uint32_t timeout_ms);

// The 512 cells of the last map painted into that control (empty if none).
std::vector<std::uint8_t> last_map(Window dlg, int id);

// Forgets every observer, answerer and picker (between tests).
void reset();

}  // namespace dz::ui::headless
