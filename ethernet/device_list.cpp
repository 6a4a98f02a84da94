// BOOTME discovery, the device list and its settings.
#include "ethernet/device_list.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "download/interface.h"
#include "platform/debug.h"
#include "platform/settings.h"
#include "platform/thread.h"
#include "platform/udp.h"
#include "resources/resource.h"

namespace dz {

std::atomic<int> device_count{0};
std::atomic<int> accept_all{1};
std::atomic<int> fast_download{0};
std::atomic<int> listener_stop{1};
std::atomic<ui::Window> notify_window{ui::no_window};
std::atomic<ui::Window> settings_window{ui::no_window};

namespace {

// The list, the selection and the last announcement change together under one lock: the
// listener thread writes them while dialogs read them.
struct DiscoveryState {
  std::mutex mutex;
  std::vector<DeviceRecord> list;
  std::string selected{no_device};
  BootmeInfo last_bootme;
  threads::Thread listener;
};

DiscoveryState& state() {
  static DiscoveryState s;
  return s;
}

std::string_view name_of(const BootmeInfo& info) {
  return std::string_view(info.device_name, strnlen(info.device_name, device_name_capacity));
}

std::string cut(std::string_view text, std::size_t capacity) {
  return std::string(text.substr(0, std::min(text.size(), capacity - 1)));
}

// The main window may have emptied the list by setting device_count to 0; the vector follows.
void sync_count_locked(DiscoveryState& s) {
  int count = std::max(0, device_count.load());
  if (static_cast<std::size_t>(count) < s.list.size()) s.list.resize(count);
  device_count = static_cast<int>(s.list.size());
}

// Before a new module goes in front of a full list, the last entry that is not the selected
// module goes (the caller counts the list after the insertion).
void make_room_locked(DiscoveryState& s) {
  if (s.list.size() < device_list_limit) return;
  for (auto it = s.list.end(); it != s.list.begin();) {
    --it;
    if (name_of(it->info) != s.selected) {
      s.list.erase(it);
      break;
    }
  }
}

void post_name(ui::Window window, int id, int notification, const std::string& name) {
  if (window == ui::no_window) return;
  ui::Command command;
  command.id = id;
  command.notification = notification;
  command.text = name;
  ui::post_command(window, std::move(command));
}

// Pause of the listener after its socket could not be opened; real time, so that a virtual
// clock in use elsewhere is not driven forward by it.
void pause_listener_after_failure() {
  for (int i = 0; i < 10 && listener_stop.load() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace

std::vector<DeviceRecord> device_list() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  sync_count_locked(s);
  return s.list;
}

bool find_device(std::string_view name, DeviceRecord& record) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  sync_count_locked(s);
  for (const auto& entry : s.list)
    if (name_of(entry.info) == name) {
      record = entry;
      return true;
    }
  return false;
}

std::string selected_device() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.selected;
}

void set_selected_device(std::string_view name) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.selected = cut(name, selected_device_capacity);
}

BootmeInfo last_bootme() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.last_bootme;
}

void set_last_bootme(const BootmeInfo& info) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.last_bootme = info;
}

void append_device(std::string_view name) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  sync_count_locked(s);
  DeviceRecord record;
  record.info = bootme_info_named(name);
  for (const auto& entry : s.list)
    if (name_of(entry.info) == name_of(record.info)) return;  // names stay unique
  if (s.list.size() >= device_list_limit) return;
  s.list.push_back(record);
  device_count = static_cast<int>(s.list.size());
}

void release_device_list_if_empty() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (device_count.load() == 0) std::vector<DeviceRecord>().swap(s.list);
}

void reset_device_list_state() {
  stop_listener();
  auto& s = state();
  std::lock_guard lock(s.mutex);
  s.list.clear();
  s.selected = std::string(no_device);
  s.last_bootme = BootmeInfo{};
  device_count = 0;
  accept_all = 1;
  fast_download = 0;
  listener_stop = 1;
  notify_window = ui::no_window;
  settings_window = ui::no_window;
}

namespace {

BootmeResult receive_bootme_on_socket(bool report_errors) {
  udp::Socket socket = udp::Socket::create();
  if (!socket) {
    if (report_errors)
      show_error("Windows Sockets error %d: Couldn't create bootme socket", udp::last_error());
    return BootmeResult::socket_failed;
  }
  std::uint16_t port = udp::bootme_listen_port();
  if (!socket.bind(udp::Address{udp::any_ip, port})) {
    int error = udp::last_error();
    if (!report_errors) return BootmeResult::socket_failed;
    if (udp::is_permission_error(error))
      debug_info(
          "UDP port %u is privileged: run the loader as root, or grant it the right once with "
          "'setcap cap_net_bind_service=+ep <path of the loader>'",
          static_cast<unsigned>(port));
    show_error("Windows Sockets error %d: Couldn't bind bootme socket.", error);
    return BootmeResult::socket_failed;
  }
  BootmeResult result = BootmeResult::stopped;
  // One byte more than an announcement, so that a longer datagram shows as too long.
  std::uint8_t buffer[bootme_datagram_size + 1];
  while (stop_flag.load() == 0) {
    if (socket.wait_readable(100) != 1) continue;
    udp::Address from;
    int n = socket.receive_from(buffer, from);
    BootmeInfo info;
    if (n == static_cast<int>(bootme_datagram_size) &&
        parse_bootme(std::span<const std::uint8_t>(buffer, bootme_datagram_size), info)) {
      set_last_bootme(info);
      result = BootmeResult::received;
      break;
    }
  }
  socket.shutdown_both();
  socket.close();
  return result;
}

}  // namespace

BootmeResult receive_bootme_result() {
  return receive_bootme_on_socket(true);
}

bool receive_bootme() {
  return receive_bootme_result() == BootmeResult::received;
}

void take_announcement(const BootmeInfo& info) {
  auto& s = state();
  std::string name(name_of(info));
  std::string selected;
  bool known = false;
  int count = 0;
  {
    std::lock_guard lock(s.mutex);
    sync_count_locked(s);
    for (auto& entry : s.list)
      if (name_of(entry.info) == name) {
        entry.info = info;
        entry.valid = 1;
        known = true;
        break;
      }
    if (!known) {
      make_room_locked(s);
      DeviceRecord record;
      record.info = info;
      record.valid = 1;
      s.list.insert(s.list.begin(), record);
      device_count = static_cast<int>(s.list.size());
      if (s.list.size() == 1) s.selected = name;
    }
    count = static_cast<int>(s.list.size());
    selected = s.selected;
  }
  if (known) {
    if (name == selected) {
      post_name(notify_window.load(), IDC_DEVICE_NAME_NOTIFY, 0, selected);
      post_name(settings_window.load(), IDC_MODULE_BOX, IDC_DEVICE_NAME_NOTIFY, selected);
    }
    return;
  }
  if (settings_window.load() != ui::no_window)
    post_name(settings_window.load(), IDC_MODULE_BOX, IDC_DEVICE_NAME_NOTIFY, name);
  else if (count == 1)
    post_name(notify_window.load(), IDC_DEVICE_NAME_NOTIFY, 0, selected);
}

void bootme_listener() {
  bool error_shown = false;
  while (listener_stop.load() == 0) {
    // The socket error is shown once; further attempts stay quiet until the port can be had.
    BootmeResult result = receive_bootme_on_socket(!error_shown);
    if (result == BootmeResult::socket_failed) error_shown = true;
    if (result == BootmeResult::received) {
      take_announcement(last_bootme());
    } else if (result == BootmeResult::socket_failed) {
      pause_listener_after_failure();
    }
  }
}

void start_listener(ui::Window) {
  auto& s = state();
  listener_stop = 0;
  s.listener = threads::Thread::start(bootme_listener);
}

void stop_listener() {
  auto& s = state();
  listener_stop = 1;
  if (!s.listener) return;
  stop_flag = 1;
  s.listener.wait(500);
  stop_flag = 0;
  s.listener = threads::Thread();
}

int load_ethernet_settings() {
  auto key = settings::open_key(settings::ethernet_key);
  if (!key) return 0;
  std::string value;
  if (key->read_string("LastSelectedDevice", value, 256) && !value.empty())
    set_selected_device(value);
  else
    set_selected_device(no_device);
  std::uint32_t number = 0;
  if (key->read_dword("AcceptAll", number)) accept_all = static_cast<int>(number);
  if (key->read_dword("FastDL", number)) fast_download = static_cast<int>(number);
  for (int n = 0; n < restored_device_limit; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "Device%d", n);
    if (!key->read_string(name, value, 256)) continue;
    BootmeInfo info = bootme_info_named(value);
    append_device(name_of(info));
    if (n == 0) set_selected_device(name_of(info));
  }
  return 1;
}

int save_ethernet_settings() {
  auto key = settings::open_key(settings::ethernet_key);
  if (!key) return 0;
  auto& s = state();
  std::vector<std::string> names;
  std::string selected;
  {
    std::lock_guard lock(s.mutex);
    sync_count_locked(s);
    selected = s.selected == no_device ? std::string() : s.selected;
    for (const auto& entry : s.list) names.emplace_back(name_of(entry.info));
  }
  // The selected module is saved first, so that it is restored first. The list itself is left
  // as it is: saving changes nothing the window shows.
  auto it = std::find(names.begin(), names.end(), selected);
  if (it != names.end()) std::rotate(names.begin(), it, it + 1);
  key->write_dword("AcceptAll", static_cast<std::uint32_t>(accept_all.load()));
  key->write_dword("FastDL", static_cast<std::uint32_t>(fast_download.load()));
  if (!key->write_string("LastSelectedDevice", selected)) return 0;
  for (std::size_t n = 0; n < names.size(); ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "Device%zu", n);
    if (!key->write_string(name, names[n])) return 0;
  }
  return 1;
}

}  // namespace dz
