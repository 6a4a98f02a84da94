// The headless dialog host. Each thread that runs modal dialogs owns one message queue; the loop
// of its innermost modal dialog serves every dialog of the thread, as a Win32 modal loop does.
// Control state lives in one table behind one mutex, so worker threads may set texts and bars
// directly. Every visible change is reported to the observers after the mutex is released.
#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ui.h"
#include "platform/ui_headless.h"
#include "resources/templates.h"

namespace dz::ui {
namespace {

using headless::Event;
using headless::EventKind;
using resources::ControlKind;

// Console-like edits keep their most recent text when a module prints without end.
constexpr std::size_t edit_text_limit = 64 * 1024;
// Closed dialogs stay readable for a while (tests inspect final texts); the oldest go first.
constexpr std::size_t closed_dialogs_kept = 256;

struct Control {
  ControlKind kind = ControlKind::static_text;
  std::string text;
  bool visible = true;
  bool enabled = true;
  bool checked = false;
  bool read_only = false;
  bool sorted = false;
  std::uint32_t progress_max = 100;
  std::uint32_t progress_pos = 0;
  std::vector<std::string> items;
  int selection = -1;
  std::uint32_t ip = 0;
  std::vector<std::uint8_t> map;
};

// A completion that a sending thread waits for.
struct Completion {
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
  void finish() {
    std::lock_guard lock(mutex);
    done = true;
    cv.notify_all();
  }
  void wait() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return done; });
  }
};

struct Message {
  Window target = no_window;  // no_window: only wakes the loop
  Command command;
  std::shared_ptr<Completion> completion;
};

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable cv;
  std::deque<Message> messages;

  void push(Message m) {
    std::lock_guard lock(mutex);
    messages.push_back(std::move(m));
    cv.notify_one();
  }
  Message pop() {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return !messages.empty(); });
    Message m = std::move(messages.front());
    messages.pop_front();
    return m;
  }
  // Removes the messages for `target`, returning their completions.
  std::vector<std::shared_ptr<Completion>> purge(Window target) {
    std::vector<std::shared_ptr<Completion>> out;
    std::lock_guard lock(mutex);
    for (auto it = messages.begin(); it != messages.end();) {
      if (it->target == target) {
        if (it->completion) out.push_back(std::move(it->completion));
        it = messages.erase(it);
      } else {
        ++it;
      }
    }
    return out;
  }
};

struct Dialog {
  Window handle = no_window;
  int template_id = 0;
  Window owner = no_window;
  DialogProc proc;
  std::thread::id thread;
  std::shared_ptr<ThreadQueue> queue;
  std::string caption;
  int icon = 0;
  bool initialised = false;  // the procedure's init has run: a person could now see it
  bool ended = false;
  bool closed = false;
  std::intptr_t result = 0;
  std::map<int, Control> controls;
};

struct Host {
  std::mutex mutex;  // guards everything below except the observer list
  std::condition_variable changed;
  std::map<Window, std::shared_ptr<Dialog>> dialogs;
  std::deque<Window> closed_order;
  Window next_handle = 0x10010;
  headless::Answerer answerer;
  headless::FilePicker picker;

  std::recursive_mutex emit_mutex;  // serialises observer calls; guards the list
  std::vector<std::pair<int, headless::Observer>> observers;
  int next_token = 1;
};

Host& host() {
  static Host h;
  return h;
}

std::shared_ptr<ThreadQueue>& this_thread_queue() {
  thread_local std::shared_ptr<ThreadQueue> queue;
  if (!queue) queue = std::make_shared<ThreadQueue>();
  return queue;
}

void emit(const Event& event) {
  Host& h = host();
  std::lock_guard lock(h.emit_mutex);
  // A copy, so that an observer may subscribe or unsubscribe while being called.
  auto observers = h.observers;
  for (auto& [token, observer] : observers) {
    if (observer) observer(event);
  }
}

bool lower_less(const std::string& a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::string dotted(std::uint32_t a) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFF, (a >> 8) & 0xFF,
                a & 0xFF);
  return buffer;
}

bool is_combo(ControlKind k) {
  return k == ControlKind::combo_drop_down || k == ControlKind::combo_drop_list ||
         k == ControlKind::combo_simple;
}

std::shared_ptr<Dialog> build_dialog(int template_id, Window owner, DialogProc proc) {
  auto d = std::make_shared<Dialog>();
  d->template_id = template_id;
  d->owner = owner;
  d->proc = std::move(proc);
  d->thread = std::this_thread::get_id();
  d->queue = this_thread_queue();
  if (const resources::DialogTemplate* t = resources::find_template(template_id)) {
    d->caption = t->caption ? t->caption : "";
    for (const resources::ControlTemplate& ct : t->controls) {
      if (ct.id == -1) continue;
      Control c;
      c.kind = ct.kind;
      if (ct.text) c.text = ct.text;
      c.visible = !(ct.style & resources::hidden);
      c.enabled = !(ct.style & resources::disabled);
      c.read_only = (ct.style & resources::read_only) != 0;
      c.sorted = (ct.style & resources::sorted) != 0;
      c.checked = (ct.style & resources::checked) != 0;
      if (ct.items) {
        for (const char* const* item = ct.items; *item; ++item) {
          std::string s(*item);
          if (c.sorted) {
            auto at = std::find_if(c.items.begin(), c.items.end(),
                                   [&](const std::string& e) { return lower_less(s, e); });
            c.items.insert(at, std::move(s));
          } else {
            c.items.push_back(std::move(s));
          }
        }
      }
      if (is_combo(c.kind) || c.kind == ControlKind::list_box) c.text.clear();
      d->controls.emplace(ct.id, std::move(c));
    }
  }
  return d;
}

std::shared_ptr<Dialog> find_locked(Window dlg) {
  auto it = host().dialogs.find(dlg);
  return it == host().dialogs.end() ? nullptr : it->second;
}

// Runs `change` on control `id` of an open dialog under the host mutex; creates unknown ids.
// `change` returns whether an event should go out and fills it. No event for closed dialogs.
template <typename F>
void change_control(Window dlg, int id, F change) {
  Event event;
  bool send = false;
  {
    std::lock_guard lock(host().mutex);
    auto d = find_locked(dlg);
    if (!d || d->closed) return;
    event.dlg = dlg;
    event.template_id = d->template_id;
    event.control = id;
    send = change(d->controls[id], event);
  }
  if (send) emit(event);
}

// Reads control `id`; default values for unknown windows and controls.
template <typename R, typename F>
R read_control(Window dlg, int id, R fallback, F read) {
  std::lock_guard lock(host().mutex);
  auto d = find_locked(dlg);
  if (!d) return fallback;
  auto it = d->controls.find(id);
  if (it == d->controls.end()) return fallback;
  return read(it->second);
}

void dispatch(const Message& m) {
  struct Finish {
    std::shared_ptr<Completion> c;
    ~Finish() {
      if (c) c->finish();
    }
  } finish{m.completion};
  if (m.target == no_window) return;
  std::function<void(Window, const Command&)> command;
  {
    std::lock_guard lock(host().mutex);
    auto d = find_locked(m.target);
    if (!d || d->ended) return;
    command = d->proc.command;
  }
  if (command) command(m.target, m.command);
}

void forget_old_closed_locked() {
  Host& h = host();
  while (h.closed_order.size() > closed_dialogs_kept) {
    h.dialogs.erase(h.closed_order.front());
    h.closed_order.pop_front();
  }
}

}  // namespace

std::intptr_t run_dialog(int template_id, Window owner, DialogProc proc, std::intptr_t init_param) {
  Host& h = host();
  auto d = build_dialog(template_id, owner, std::move(proc));
  {
    std::lock_guard lock(h.mutex);
    d->handle = h.next_handle;
    h.next_handle += 4;  // handles are never reused
    h.dialogs.emplace(d->handle, d);
  }
  h.changed.notify_all();
  const Window dlg = d->handle;
  {
    Event e;
    e.kind = EventKind::dialog_opened;
    e.dlg = dlg;
    e.template_id = template_id;
    e.value = owner;
    e.caption = d->caption;
    emit(e);
  }
  if (d->proc.init) d->proc.init(dlg, init_param);
  {
    std::lock_guard lock(h.mutex);
    d->initialised = true;
  }
  h.changed.notify_all();
  auto& queue = d->queue;
  for (;;) {
    {
      std::lock_guard lock(h.mutex);
      if (d->ended) break;
    }
    dispatch(queue->pop());
  }
  if (d->proc.destroy) d->proc.destroy(dlg);
  std::intptr_t result;
  std::vector<std::shared_ptr<Completion>> dropped;
  {
    std::lock_guard lock(h.mutex);
    d->closed = true;
    result = d->result;
    dropped = queue->purge(dlg);
    h.closed_order.push_back(dlg);
    forget_old_closed_locked();
  }
  for (auto& c : dropped) c->finish();
  h.changed.notify_all();
  Event e;
  e.kind = EventKind::dialog_closed;
  e.dlg = dlg;
  e.template_id = template_id;
  e.value = static_cast<std::uint64_t>(result);
  e.result = result;
  emit(e);
  return result;
}

void end_dialog(Window dlg, std::intptr_t result) {
  std::shared_ptr<ThreadQueue> queue;
  {
    std::lock_guard lock(host().mutex);
    auto d = find_locked(dlg);
    if (!d || d->ended) return;
    d->ended = true;
    d->result = result;
    queue = d->queue;
  }
  host().changed.notify_all();
  queue->push(Message{});  // wakes the loop so that it sees the end
}

void send_command(Window dlg, Command command) {
  std::shared_ptr<Completion> completion;
  std::function<void(Window, const Command&)> direct;
  {
    std::lock_guard lock(host().mutex);
    auto d = find_locked(dlg);
    if (!d || d->ended) return;
    if (d->thread == std::this_thread::get_id()) {
      direct = d->proc.command;
    } else {
      completion = std::make_shared<Completion>();
      // Queued under the host mutex: the dialog cannot close between the check and the push,
      // so either its loop handles the message or its close drops it and releases us.
      d->queue->push(Message{dlg, std::move(command), completion});
    }
  }
  if (completion) {
    completion->wait();
  } else if (direct) {
    direct(dlg, command);
  }
}

void post_command(Window dlg, Command command) {
  std::lock_guard lock(host().mutex);
  auto d = find_locked(dlg);
  if (!d || d->ended) return;
  d->queue->push(Message{dlg, std::move(command), nullptr});
}

Window parent(Window dlg) {
  std::lock_guard lock(host().mutex);
  auto d = find_locked(dlg);
  return d ? d->owner : no_window;
}

bool is_open(Window dlg) {
  std::lock_guard lock(host().mutex);
  auto d = find_locked(dlg);
  return d && !d->closed;
}

int template_of(Window dlg) {
  std::lock_guard lock(host().mutex);
  auto d = find_locked(dlg);
  return d ? d->template_id : 0;
}

void set_caption(Window dlg, std::string_view text) {
  Event e;
  {
    std::lock_guard lock(host().mutex);
    auto d = find_locked(dlg);
    if (!d || d->closed) return;
    d->caption = std::string(text);
    e.kind = EventKind::caption_changed;
    e.dlg = dlg;
    e.template_id = d->template_id;
    e.text = d->caption;
  }
  emit(e);
}

std::string caption(Window dlg) {
  std::lock_guard lock(host().mutex);
  auto d = find_locked(dlg);
  return d ? d->caption : std::string();
}

void set_icon(Window dlg, int icon_id) {
  std::lock_guard lock(host().mutex);
  auto d = find_locked(dlg);
  if (d && !d->closed) d->icon = icon_id;
}

void set_text(Window dlg, int id, std::string_view text) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    if (c.kind == ControlKind::ip_address) {
      // WM_SETTEXT on an IP-address control takes a dotted address.
      unsigned a = 0, b = 0, cc = 0, dd = 0;
      std::string s(text);
      if (std::sscanf(s.c_str(), "%u.%u.%u.%u", &a, &b, &cc, &dd) == 4 && a < 256 && b < 256 &&
          cc < 256 && dd < 256) {
        c.ip = (a << 24) | (b << 16) | (cc << 8) | dd;
      }
      e.value = c.ip;
      e.text = dotted(c.ip);
    } else {
      c.text = std::string(text);
      e.text = c.text;
    }
    e.kind = EventKind::text_changed;
    return true;
  });
}

std::string text(Window dlg, int id) {
  return read_control(dlg, id, std::string(), [](const Control& c) {
    if (c.kind == ControlKind::ip_address) return dotted(c.ip);
    if (c.kind == ControlKind::combo_drop_list) {
      return c.selection >= 0 && c.selection < static_cast<int>(c.items.size())
                 ? c.items[static_cast<std::size_t>(c.selection)]
                 : std::string();
    }
    return c.text;
  });
}

void append_text(Window dlg, int id, std::string_view text) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    c.text.append(text);
    if (c.text.size() > edit_text_limit) c.text.erase(0, c.text.size() - edit_text_limit);
    e.kind = EventKind::text_appended;
    e.text = std::string(text);
    return true;
  });
}

void show(Window dlg, int id, bool visible) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    if (c.visible == visible) return false;
    c.visible = visible;
    e.kind = EventKind::visibility_changed;
    e.value = visible ? 1 : 0;
    return true;
  });
}

bool is_visible(Window dlg, int id) {
  return read_control(dlg, id, false, [](const Control& c) { return c.visible; });
}

void enable(Window dlg, int id, bool enabled) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    if (c.enabled == enabled) return false;
    c.enabled = enabled;
    e.kind = EventKind::enabled_changed;
    e.value = enabled ? 1 : 0;
    return true;
  });
}

bool is_enabled(Window dlg, int id) {
  return read_control(dlg, id, false, [](const Control& c) { return c.enabled; });
}

void check(Window dlg, int id, bool checked) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    if (c.checked == checked) return false;
    c.checked = checked;
    e.kind = EventKind::check_changed;
    e.value = checked ? 1 : 0;
    return true;
  });
}

bool is_checked(Window dlg, int id) {
  return read_control(dlg, id, false, [](const Control& c) { return c.checked; });
}

void check_radio(Window dlg, int first, int last, int id) {
  std::vector<Event> events;
  {
    std::lock_guard lock(host().mutex);
    auto d = find_locked(dlg);
    if (!d || d->closed) return;
    d->controls[id];  // the checked one exists even if the template lacks it
    for (auto& [cid, c] : d->controls) {
      if (cid < first || cid > last) continue;
      const bool want = cid == id;
      if (c.checked == want) continue;
      c.checked = want;
      Event e;
      e.kind = EventKind::check_changed;
      e.dlg = dlg;
      e.template_id = d->template_id;
      e.control = cid;
      e.value = want ? 1 : 0;
      events.push_back(std::move(e));
    }
  }
  for (const Event& e : events) emit(e);
}

void set_read_only(Window dlg, int id, bool read_only) {
  change_control(dlg, id, [&](Control& c, Event&) {
    c.read_only = read_only;
    return false;
  });
}

bool is_read_only(Window dlg, int id) {
  return read_control(dlg, id, false, [](const Control& c) { return c.read_only; });
}

void progress_range(Window dlg, int id, std::uint32_t maximum) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    c.progress_max = maximum;
    c.progress_pos = std::min(c.progress_pos, maximum);
    e.kind = EventKind::progress_range;
    e.value = maximum;
    return true;
  });
}

void progress_pos(Window dlg, int id, std::uint32_t position) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    // A progress bar clamps its position to its range.
    c.progress_pos = std::min(position, c.progress_max);
    e.kind = EventKind::progress_pos;
    e.value = c.progress_pos;
    return true;
  });
}

std::uint32_t progress_max(Window dlg, int id) {
  return read_control(dlg, id, std::uint32_t{0}, [](const Control& c) { return c.progress_max; });
}

std::uint32_t progress_position(Window dlg, int id) {
  return read_control(dlg, id, std::uint32_t{0}, [](const Control& c) { return c.progress_pos; });
}

namespace {

int add_item(Control& c, std::string_view item) {
  std::string s(item);
  if (c.sorted) {
    auto at = std::find_if(c.items.begin(), c.items.end(),
                           [&](const std::string& e) { return lower_less(s, e); });
    const int index = static_cast<int>(at - c.items.begin());
    c.items.insert(at, std::move(s));
    if (c.selection >= index) ++c.selection;
    return index;
  }
  c.items.push_back(std::move(s));
  return static_cast<int>(c.items.size()) - 1;
}

int insert_item(Control& c, int index, std::string_view item) {
  const int count = static_cast<int>(c.items.size());
  if (index < -1 || index > count) return -1;  // CB_ERR
  if (index == -1) index = count;
  c.items.insert(c.items.begin() + index, std::string(item));
  if (c.selection >= index) ++c.selection;
  return index;
}

bool delete_item(Control& c, int index) {
  if (index < 0 || index >= static_cast<int>(c.items.size())) return false;
  c.items.erase(c.items.begin() + index);
  if (c.selection == index) {
    c.selection = -1;
  } else if (c.selection > index) {
    --c.selection;
  }
  return true;
}

}  // namespace

int combo_add(Window dlg, int id, std::string_view item) {
  int index = -1;
  change_control(dlg, id, [&](Control& c, Event& e) {
    index = add_item(c, item);
    e.kind = EventKind::items_changed;
    return true;
  });
  return index;
}

int combo_insert(Window dlg, int id, int index, std::string_view item) {
  int at = -1;
  change_control(dlg, id, [&](Control& c, Event& e) {
    at = insert_item(c, index, item);
    e.kind = EventKind::items_changed;
    return at >= 0;
  });
  return at;
}

void combo_delete(Window dlg, int id, int index) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    e.kind = EventKind::items_changed;
    return delete_item(c, index);
  });
}

void combo_reset(Window dlg, int id) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    c.items.clear();
    c.selection = -1;
    c.text.clear();
    e.kind = EventKind::items_changed;
    return true;
  });
}

int combo_count(Window dlg, int id) {
  return read_control(dlg, id, 0,
                      [](const Control& c) { return static_cast<int>(c.items.size()); });
}

std::string combo_item(Window dlg, int id, int index) {
  return read_control(dlg, id, std::string(), [&](const Control& c) {
    return index >= 0 && index < static_cast<int>(c.items.size())
               ? c.items[static_cast<std::size_t>(index)]
               : std::string();
  });
}

int combo_find_exact(Window dlg, int id, std::string_view item) {
  return read_control(dlg, id, -1, [&](const Control& c) {
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      if (equal_ignoring_case(c.items[i], item)) return static_cast<int>(i);
    }
    return -1;
  });
}

void combo_select(Window dlg, int id, int index) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    if (index < 0 || index >= static_cast<int>(c.items.size())) {
      // CB_SETCURSEL with -1 (or out of range) clears the selection and the edit field.
      c.selection = -1;
      c.text.clear();
    } else {
      c.selection = index;
      c.text = c.items[static_cast<std::size_t>(index)];
    }
    e.kind = EventKind::items_changed;
    e.text = c.text;
    e.value = static_cast<std::uint64_t>(static_cast<std::int64_t>(c.selection));
    return true;
  });
}

int combo_selection(Window dlg, int id) {
  return read_control(dlg, id, -1, [](const Control& c) { return c.selection; });
}

void list_reset(Window dlg, int id) {
  combo_reset(dlg, id);
}

int list_add(Window dlg, int id, std::string_view item) {
  return combo_add(dlg, id, item);
}

int list_count(Window dlg, int id) {
  return combo_count(dlg, id);
}

std::string list_item(Window dlg, int id, int index) {
  return combo_item(dlg, id, index);
}

void set_ip(Window dlg, int id, std::uint32_t address) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    c.kind = ControlKind::ip_address;
    c.ip = address;
    e.kind = EventKind::text_changed;
    e.text = dotted(address);
    e.value = address;
    return true;
  });
}

std::uint32_t ip(Window dlg, int id) {
  return read_control(dlg, id, std::uint32_t{0}, [](const Control& c) { return c.ip; });
}

int message_box(Window owner, std::string_view text, std::string_view caption, unsigned flags) {
  headless::Answerer answerer;
  {
    std::lock_guard lock(host().mutex);
    answerer = host().answerer;
  }
  const std::string t(text), c(caption);
  int answer;
  if (answerer) {
    answer = answerer(owner, t, c, flags);
  } else {
    answer = (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
  }
  Event e;
  e.kind = EventKind::message_box;
  e.dlg = owner;
  e.template_id = template_of(owner);
  e.text = t;
  e.caption = c;
  e.value = flags;
  e.result = answer;
  emit(e);
  return answer;
}

bool open_file(Window, std::string& path, std::string_view,
               std::span<const std::pair<std::string, std::string>>) {
  headless::FilePicker picker;
  {
    std::lock_guard lock(host().mutex);
    picker = host().picker;
  }
  if (!picker) return false;
  std::optional<std::string> chosen = picker(path);
  if (!chosen) return false;
  path = std::move(*chosen);
  return true;
}

void paint_flash_map(Window dlg, int id, std::span<const std::uint8_t, 512> cells) {
  change_control(dlg, id, [&](Control& c, Event& e) {
    c.map.assign(cells.begin(), cells.end());
    e.kind = EventKind::map_painted;
    e.map = c.map;
    return true;
  });
}

namespace headless {

int subscribe(Observer observer) {
  Host& h = host();
  std::lock_guard lock(h.emit_mutex);
  const int token = h.next_token++;
  h.observers.emplace_back(token, std::move(observer));
  return token;
}

void unsubscribe(int token) {
  Host& h = host();
  std::lock_guard lock(h.emit_mutex);
  std::erase_if(h.observers, [&](const auto& o) { return o.first == token; });
}

Answerer set_answerer(Answerer answerer) {
  std::lock_guard lock(host().mutex);
  std::swap(host().answerer, answerer);
  return answerer;
}

FilePicker set_file_picker(FilePicker picker) {
  std::lock_guard lock(host().mutex);
  std::swap(host().picker, picker);
  return picker;
}

namespace {

Window find_open_locked(int template_id) {
  Window found = no_window;
  for (auto& [handle, d] : host().dialogs) {
    // Handles grow, so the last match is the most recently opened.
    if (d->template_id == template_id && d->initialised && !d->closed) found = handle;
  }
  return found;
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
    auto d = find_locked(dlg);
    return !d || d->closed;
  });
}

std::vector<std::uint8_t> last_map(Window dlg, int id) {
  return read_control(dlg, id, std::vector<std::uint8_t>(), [](const Control& c) { return c.map; });
}

void reset() {
  {
    std::lock_guard lock(host().emit_mutex);
    host().observers.clear();
  }
  std::lock_guard lock(host().mutex);
  host().answerer = nullptr;
  host().picker = nullptr;
  // Closed dialogs are forgotten too; open ones belong to whoever runs them.
  for (Window w : host().closed_order) host().dialogs.erase(w);
  host().closed_order.clear();
}

}  // namespace headless
}  // namespace dz::ui
