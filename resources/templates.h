#pragma once
// The dialog templates as data: caption and controls with their initial state. The headless host
// builds its dialogs from these; resources/DividezUrirer.rc describes the same dialogs for Win32.
#include <span>

namespace dz::resources {

enum class ControlKind {
  button,
  default_button,
  check_box,
  radio_button,
  static_text,
  edit,
  multiline_edit,
  combo_drop_down,  // edit field with a drop-down list
  combo_drop_list,  // list only
  combo_simple,     // edit field with an always-open list
  list_box,
  progress_bar,
  ip_address,
  frame,
};

// Style bits of the initial state.
inline constexpr unsigned hidden = 0x1;
inline constexpr unsigned disabled = 0x2;
inline constexpr unsigned read_only = 0x4;
inline constexpr unsigned sorted = 0x8;
inline constexpr unsigned checked = 0x10;

struct ControlTemplate {
  int id;  // -1 for labels without an id
  ControlKind kind;
  const char* text;
  unsigned style;
  const char* const* items = nullptr;  // initial combo items (nullptr-terminated), if any
};

struct DialogTemplate {
  int id;
  const char* caption;
  std::span<const ControlTemplate> controls;
};

// The template with that id, or nullptr.
const DialogTemplate* find_template(int id);
std::span<const DialogTemplate> all_templates();

}  // namespace dz::resources
