// The Win32 dialog host: modal dialogs from the program's dialog resources, run by DialogBoxParamA
// with one adapter procedure that forwards to the DialogProc records. Controls are addressed with
// GetDlgItem and driven by their own messages, so every change made from a worker thread is a
// SendMessage handled on the dialog's thread.
#include <windows.h>
// After <windows.h>:
#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/ui.h"
#include "platform/ui_win32.h"
#include "resources/templates.h"

namespace dz::ui {
namespace {

// Console-like edits keep their most recent text when a module prints without end.
constexpr std::size_t edit_text_limit = 64 * 1024;
// Ends a dialog on its own thread when end_dialog was called from another one.
constexpr UINT end_message = WM_APP + 0x51;
// Repaints a map control on its dialog's thread.
constexpr UINT repaint_map_message = WM_APP + 0x52;

struct Record {
  HWND hwnd = nullptr;
  int template_id = 0;
  Window owner = no_window;
  DialogProc proc;
  std::intptr_t init_param = 0;
  DWORD thread = 0;
  bool initialised = false;
  bool ended = false;
  bool closed = false;
  std::intptr_t result = 0;
};

// A command travelling as the lParam of WM_COMMAND. Sent ones live on the sender's stack while
// it waits; posted ones are owned by the message and freed where it is handled or dropped.
struct Envelope {
  HWND target = nullptr;
  Command command;
};

struct Host {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<HWND, std::shared_ptr<Record>> dialogs;  // open ones
  std::set<const Envelope*> sent;
  std::map<const Envelope*, std::unique_ptr<Envelope>> posted;
  std::map<HWND, std::vector<std::uint8_t>> maps;  // the last cells painted into a map control
};

Host& host() {
  static Host h;
  return h;
}

HWND handle(Window w) {
  return reinterpret_cast<HWND>(w);
}
Window window(HWND h) {
  return reinterpret_cast<Window>(h);
}

HWND item(Window dlg, int id) {
  if (dlg == no_window) return nullptr;
  return GetDlgItem(handle(dlg), id);
}

LRESULT send(Window dlg, int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
  HWND h = item(dlg, id);
  return h ? SendMessageA(h, message, wparam, lparam) : 0;
}

std::shared_ptr<Record> find(HWND h) {
  std::lock_guard lock(host().mutex);
  auto it = host().dialogs.find(h);
  return it == host().dialogs.end() ? nullptr : it->second;
}

void init_common_controls() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX),
                             ICC_INTERNET_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
  });
}

// Takes the command carried by a WM_COMMAND: ours (sent or posted), or a control's own.
std::optional<Command> take_command(HWND dlg, WPARAM wparam, LPARAM lparam) {
  const auto* envelope = reinterpret_cast<const Envelope*>(lparam);
  std::lock_guard lock(host().mutex);
  if (host().sent.count(envelope)) return envelope->command;
  auto it = host().posted.find(envelope);
  if (it != host().posted.end() && it->second->target == dlg) {
    Command command = std::move(it->second->command);
    host().posted.erase(it);
    return command;
  }
  Command command;
  command.id = LOWORD(wparam);
  command.notification = HIWORD(wparam);
  command.param = static_cast<std::intptr_t>(lparam);
  return command;
}

// Frees the posted commands still queued for a dialog that is going away.
void drop_posted(HWND dlg) {
  std::lock_guard lock(host().mutex);
  std::erase_if(host().posted, [&](const auto& p) { return p.second->target == dlg; });
}

// Draws the 512 cells as a 16 x 32 grid into the control's client area: a blue frame for cells
// of the image, a yellow core once written, the verified colour once read back.
void draw_map(HWND control, HDC dc, const std::vector<std::uint8_t>& cells) {
  HBRUSH in_image = CreateSolidBrush(0x00EB5100);
  HBRUSH written = CreateSolidBrush(0x0000FFFF);
  HBRUSH verified = CreateSolidBrush(0x0000D4CA);
  RECT client;
  GetClientRect(control, &client);
  const int w = client.right;
  const int h = client.bottom;
  const float cw = static_cast<float>(w) * 0.0625f;
  const float ch = static_cast<float>(h) * 0.03125f;
  for (int i = 0; i < 32; ++i) {
    const int y = static_cast<int>(static_cast<float>(i) * ch);
    MoveToEx(dc, 0, y, nullptr);
    LineTo(dc, w, y);
  }
  for (int i = 0; i < 16; ++i) {
    const int x = static_cast<int>(static_cast<float>(i) * cw);
    MoveToEx(dc, x, 0, nullptr);
    LineTo(dc, x, h);
  }
  for (int r = 0; r < 32; ++r) {
    for (int c = 0; c < 16; ++c) {
      const std::uint8_t cell = cells[static_cast<std::size_t>(r * 16 + c)];
      RECT rect{static_cast<int>(static_cast<float>(c) * cw),
                static_cast<int>(static_cast<float>(r) * ch),
                static_cast<int>(static_cast<float>(c + 1) * cw),
                static_cast<int>(static_cast<float>(r + 1) * ch)};
      if (cell & 0x01) {
        InflateRect(&rect, -1, -1);
        FillRect(dc, &rect, in_image);
      }
      if (cell & 0x02) {
        InflateRect(&rect, -2, -2);
        FillRect(dc, &rect, written);
      }
      if (cell & 0x04) FillRect(dc, &rect, verified);
    }
  }
  DeleteObject(in_image);
  DeleteObject(written);
  DeleteObject(verified);
}

std::vector<std::uint8_t> stored_map(HWND control) {
  std::lock_guard lock(host().mutex);
  auto it = host().maps.find(control);
  return it == host().maps.end() ? std::vector<std::uint8_t>() : it->second;
}

// A resource template cannot hold combo items; the ones the dialog starts with come from the
// template table, as the headless host has them.
void add_template_items(HWND dlg, int template_id) {
  const resources::DialogTemplate* t = resources::find_template(template_id);
  if (t == nullptr) return;
  for (const resources::ControlTemplate& c : t->controls) {
    if (c.items == nullptr) continue;
    HWND h = GetDlgItem(dlg, c.id);
    for (const char* const* entry = c.items; h != nullptr && *entry != nullptr; ++entry)
      SendMessageA(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(*entry));
  }
}

INT_PTR CALLBACK dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      auto* start = reinterpret_cast<std::shared_ptr<Record>*>(lparam);
      std::shared_ptr<Record> record = *start;
      record->hwnd = hwnd;
      {
        std::lock_guard lock(host().mutex);
        host().dialogs[hwnd] = record;
      }
      add_template_items(hwnd, record->template_id);
      if (record->proc.init) record->proc.init(window(hwnd), record->init_param);
      {
        std::lock_guard lock(host().mutex);
        record->initialised = true;
      }
      host().changed.notify_all();
      return TRUE;
    }
    case WM_COMMAND: {
      std::optional<Command> command = take_command(hwnd, wparam, lparam);
      std::shared_ptr<Record> record = find(hwnd);
      if (!record || !command) return TRUE;
      {
        std::lock_guard lock(host().mutex);
        if (record->ended) return TRUE;
      }
      if (record->proc.command) record->proc.command(window(hwnd), *command);
      return TRUE;
    }
    case repaint_map_message:
      RedrawWindow(reinterpret_cast<HWND>(lparam), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW);
      return TRUE;
    case WM_DRAWITEM: {
      // The flash map is an owner-drawn static control: its last cells are drawn whenever it is
      // painted, so a window moved over it does not wipe the map until the next piece.
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (draw->CtlType != ODT_STATIC) return FALSE;
      RECT area = draw->rcItem;
      FillRect(draw->hDC, &area, GetSysColorBrush(COLOR_BTNFACE));
      const std::vector<std::uint8_t> cells = stored_map(draw->hwndItem);
      if (cells.size() == 512) draw_map(draw->hwndItem, draw->hDC, cells);
      FrameRect(draw->hDC, &area, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      return TRUE;
    }
    case end_message: {
      std::shared_ptr<Record> record = find(hwnd);
      if (record) EndDialog(hwnd, record->result);
      return TRUE;
    }
    case WM_DESTROY: {
      std::shared_ptr<Record> record = find(hwnd);
      if (record && record->proc.destroy) record->proc.destroy(window(hwnd));
      std::lock_guard lock(host().mutex);
      std::erase_if(host().maps, [&](const auto& m) { return GetParent(m.first) == hwnd; });
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

std::intptr_t run_dialog(int template_id, Window owner, DialogProc proc, std::intptr_t init_param) {
  init_common_controls();
  auto record = std::make_shared<Record>();
  record->template_id = template_id;
  record->owner = owner;
  record->proc = std::move(proc);
  record->init_param = init_param;
  record->thread = GetCurrentThreadId();
  const INT_PTR r = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(template_id),
                                    handle(owner), dialog_proc, reinterpret_cast<LPARAM>(&record));
  std::intptr_t result = r;
  {
    std::lock_guard lock(host().mutex);
    if (record->hwnd) host().dialogs.erase(record->hwnd);
    record->closed = true;
    if (record->ended) result = record->result;
  }
  if (record->hwnd) drop_posted(record->hwnd);
  host().changed.notify_all();
  return result;
}

void end_dialog(Window dlg, std::intptr_t result) {
  std::shared_ptr<Record> record = find(handle(dlg));
  if (!record) return;
  {
    std::lock_guard lock(host().mutex);
    if (record->ended) return;
    record->ended = true;
    record->result = result;
  }
  host().changed.notify_all();
  if (record->thread == GetCurrentThreadId())
    EndDialog(record->hwnd, result);
  else
    PostMessageA(record->hwnd, end_message, 0, 0);
}

void send_command(Window dlg, Command command) {
  std::shared_ptr<Record> record = find(handle(dlg));
  if (!record) return;
  Envelope envelope{record->hwnd, std::move(command)};
  {
    std::lock_guard lock(host().mutex);
    if (record->ended) return;
    host().sent.insert(&envelope);
  }
  const WPARAM wparam = MAKEWPARAM(envelope.command.id, envelope.command.notification);
  SendMessageA(record->hwnd, WM_COMMAND, wparam, reinterpret_cast<LPARAM>(&envelope));
  std::lock_guard lock(host().mutex);
  host().sent.erase(&envelope);
}

void post_command(Window dlg, Command command) {
  std::shared_ptr<Record> record = find(handle(dlg));
  if (!record) return;
  auto envelope = std::make_unique<Envelope>(Envelope{record->hwnd, std::move(command)});
  const Envelope* key = envelope.get();
  const WPARAM wparam = MAKEWPARAM(envelope->command.id, envelope->command.notification);
  std::lock_guard lock(host().mutex);
  if (record->ended) return;
  host().posted.emplace(key, std::move(envelope));
  if (!PostMessageA(record->hwnd, WM_COMMAND, wparam, reinterpret_cast<LPARAM>(key)))
    host().posted.erase(key);
}

Window parent(Window dlg) {
  std::shared_ptr<Record> record = find(handle(dlg));
  return record ? record->owner : no_window;
}

bool is_open(Window dlg) {
  std::shared_ptr<Record> record = find(handle(dlg));
  return record != nullptr && IsWindow(record->hwnd);
}

int template_of(Window dlg) {
  std::shared_ptr<Record> record = find(handle(dlg));
  return record ? record->template_id : 0;
}

void set_caption(Window dlg, std::string_view text) {
  if (dlg != no_window) SetWindowTextA(handle(dlg), std::string(text).c_str());
}

std::string caption(Window dlg) {
  if (dlg == no_window) return {};
  const int n = GetWindowTextLengthA(handle(dlg));
  std::string s(static_cast<std::size_t>(std::max(n, 0)) + 1, '\0');
  const int got = GetWindowTextA(handle(dlg), s.data(), static_cast<int>(s.size()));
  s.resize(static_cast<std::size_t>(std::max(got, 0)));
  return s;
}

void set_icon(Window dlg, int icon_id) {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(icon_id));
  if (icon != nullptr && dlg != no_window)
    SendMessageA(handle(dlg), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void set_text(Window dlg, int id, std::string_view text) {
  const std::string s(text);
  send(dlg, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.c_str()));
}

std::string text(Window dlg, int id) {
  HWND h = item(dlg, id);
  if (!h) return {};
  const LRESULT n = SendMessageA(h, WM_GETTEXTLENGTH, 0, 0);
  std::string s(static_cast<std::size_t>(std::max<LRESULT>(n, 0)) + 1, '\0');
  const LRESULT got = SendMessageA(h, WM_GETTEXT, s.size(), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<std::size_t>(std::clamp<LRESULT>(got, 0, n)));
  return s;
}

void append_text(Window dlg, int id, std::string_view text) {
  HWND h = item(dlg, id);
  if (!h) return;
  const std::string s(text);
  const LRESULT length = SendMessageA(h, WM_GETTEXTLENGTH, 0, 0);
  if (static_cast<std::size_t>(length) + s.size() > edit_text_limit) {
    // Drop the oldest text so that the newest always fits.
    const std::size_t excess =
        std::min<std::size_t>(static_cast<std::size_t>(length),
                              static_cast<std::size_t>(length) + s.size() - edit_text_limit);
    SendMessageA(h, EM_SETSEL, 0, static_cast<LPARAM>(excess));
    SendMessageA(h, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
  }
  const std::string& tail = s.size() > edit_text_limit ? s.substr(s.size() - edit_text_limit) : s;
  const LRESULT end = SendMessageA(h, WM_GETTEXTLENGTH, 0, 0);
  SendMessageA(h, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageA(h, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(tail.c_str()));
}

void show(Window dlg, int id, bool visible) {
  if (HWND h = item(dlg, id)) ShowWindow(h, visible ? SW_SHOW : SW_HIDE);
}

bool is_visible(Window dlg, int id) {
  // The control's own style: IsWindowVisible would also ask the dialog, which is still hidden
  // while it initialises.
  HWND h = item(dlg, id);
  return h && (GetWindowLongA(h, GWL_STYLE) & WS_VISIBLE) != 0;
}

void enable(Window dlg, int id, bool enabled) {
  if (HWND h = item(dlg, id)) EnableWindow(h, enabled ? TRUE : FALSE);
}

bool is_enabled(Window dlg, int id) {
  HWND h = item(dlg, id);
  return h && IsWindowEnabled(h);
}

void check(Window dlg, int id, bool checked) {
  send(dlg, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool is_checked(Window dlg, int id) {
  return send(dlg, id, BM_GETCHECK) == BST_CHECKED;
}

void check_radio(Window dlg, int first, int last, int id) {
  if (dlg != no_window) CheckRadioButton(handle(dlg), first, last, id);
}

void set_read_only(Window dlg, int id, bool read_only) {
  send(dlg, id, EM_SETREADONLY, read_only ? TRUE : FALSE);
}

bool is_read_only(Window dlg, int id) {
  HWND h = item(dlg, id);
  return h && (GetWindowLongA(h, GWL_STYLE) & ES_READONLY) != 0;
}

void progress_range(Window dlg, int id, std::uint32_t maximum) {
  send(dlg, id, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
}

void progress_pos(Window dlg, int id, std::uint32_t position) {
  send(dlg, id, PBM_SETPOS, position);
}

std::uint32_t progress_max(Window dlg, int id) {
  return static_cast<std::uint32_t>(send(dlg, id, PBM_GETRANGE, FALSE));
}

std::uint32_t progress_position(Window dlg, int id) {
  return static_cast<std::uint32_t>(send(dlg, id, PBM_GETPOS));
}

int combo_add(Window dlg, int id, std::string_view item_text) {
  const std::string s(item_text);
  return static_cast<int>(send(dlg, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str())));
}

int combo_insert(Window dlg, int id, int index, std::string_view item_text) {
  const std::string s(item_text);
  return static_cast<int>(send(dlg, id, CB_INSERTSTRING, static_cast<WPARAM>(index),
                               reinterpret_cast<LPARAM>(s.c_str())));
}

void combo_delete(Window dlg, int id, int index) {
  send(dlg, id, CB_DELETESTRING, static_cast<WPARAM>(index));
}

void combo_reset(Window dlg, int id) {
  send(dlg, id, CB_RESETCONTENT);
}

int combo_count(Window dlg, int id) {
  return std::max(0, static_cast<int>(send(dlg, id, CB_GETCOUNT)));
}

std::string combo_item(Window dlg, int id, int index) {
  const LRESULT n = send(dlg, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (n < 0) return {};
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  const LRESULT got =
      send(dlg, id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<std::size_t>(std::clamp<LRESULT>(got, 0, n)));
  return s;
}

int combo_find_exact(Window dlg, int id, std::string_view item_text) {
  if (!item(dlg, id)) return -1;
  const std::string s(item_text);
  const LRESULT r = send(dlg, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(s.c_str()));
  return r == CB_ERR ? -1 : static_cast<int>(r);
}

void combo_select(Window dlg, int id, int index) {
  send(dlg, id, CB_SETCURSEL, static_cast<WPARAM>(index));
}

int combo_selection(Window dlg, int id) {
  if (!item(dlg, id)) return -1;
  const LRESULT r = send(dlg, id, CB_GETCURSEL);
  return r == CB_ERR ? -1 : static_cast<int>(r);
}

void list_reset(Window dlg, int id) {
  send(dlg, id, LB_RESETCONTENT);
}

int list_add(Window dlg, int id, std::string_view item_text) {
  const std::string s(item_text);
  return static_cast<int>(send(dlg, id, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.c_str())));
}

int list_count(Window dlg, int id) {
  return std::max(0, static_cast<int>(send(dlg, id, LB_GETCOUNT)));
}

std::string list_item(Window dlg, int id, int index) {
  const LRESULT n = send(dlg, id, LB_GETTEXTLEN, static_cast<WPARAM>(index));
  if (n < 0) return {};
  std::string s(static_cast<std::size_t>(n) + 1, '\0');
  const LRESULT got =
      send(dlg, id, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<std::size_t>(std::clamp<LRESULT>(got, 0, n)));
  return s;
}

void set_ip(Window dlg, int id, std::uint32_t address) {
  send(dlg, id, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

std::uint32_t ip(Window dlg, int id) {
  DWORD address = 0;
  send(dlg, id, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  return address;
}

int message_box(Window owner, std::string_view text, std::string_view caption_text,
                unsigned flags) {
  return MessageBoxA(handle(owner), std::string(text).c_str(), std::string(caption_text).c_str(),
                     flags);
}

bool open_file(Window owner, std::string& path, std::string_view title,
               std::span<const std::pair<std::string, std::string>> filters) {
  std::string filter;
  for (const auto& [description, pattern] : filters) {
    filter += description;
    filter += '\0';
    filter += pattern;
    filter += '\0';
  }
  filter += '\0';
  char file[MAX_PATH] = {};
  path.copy(file, std::min<std::size_t>(path.size(), MAX_PATH - 1));
  const std::string title_text(title);
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = handle(owner);
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrTitle = title_text.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!GetOpenFileNameA(&ofn)) return false;
  path = file;
  return true;
}

void paint_flash_map(Window dlg, int id, std::span<const std::uint8_t, 512> cells) {
  HWND control = item(dlg, id);
  if (!control) return;
  {
    std::lock_guard lock(host().mutex);
    host().maps[control].assign(cells.begin(), cells.end());
  }
  // Drawn at once, by the dialog's own thread: a control painted from two threads under Wine can
  // have its own background painting land over the cells.
  SendMessageA(GetParent(control), repaint_map_message, 0, reinterpret_cast<LPARAM>(control));
}

namespace win32 {

namespace {
Window find_open_locked(int template_id) {
  HWND found = nullptr;
  std::uint64_t newest = 0;
  for (auto& [h, record] : host().dialogs) {
    if (record->template_id != template_id || !record->initialised || record->ended) continue;
    // The innermost dialog is the one whose owner chain is longest; among equals, any.
    std::uint64_t depth = 1;
    for (Window o = record->owner; o != no_window;) {
      auto it = host().dialogs.find(handle(o));
      if (it == host().dialogs.end()) break;
      ++depth;
      o = it->second->owner;
    }
    if (depth >= newest) {
      newest = depth;
      found = h;
    }
  }
  return window(found);
}
}  // namespace

Window find_dialog(int template_id) {
  std::lock_guard lock(host().mutex);
  return find_open_locked(template_id);
}

Window wait_for_dialog(int template_id, std::uint32_t timeout_ms) {
  std::unique_lock lock(host().mutex);
  Window found = no_window;
  host().changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    found = find_open_locked(template_id);
    return found != no_window;
  });
  return found;
}

bool wait_closed(Window dlg, std::uint32_t timeout_ms) {
  std::unique_lock lock(host().mutex);
  return host().changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return host().dialogs.find(handle(dlg)) == host().dialogs.end();
  });
}

Window control(Window dlg, int id) {
  return window(item(dlg, id));
}

std::string command_line_tail() {
  // The program name, quoted or not, then blanks: what remains is WinMain's lpCmdLine.
  const char* p = GetCommandLineA();
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

}  // namespace win32
}  // namespace dz::ui
