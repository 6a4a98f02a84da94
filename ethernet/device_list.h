#pragma once
// BOOTME discovery and the list of modules known by name: the receiver, the background listener
// that keeps the list up to date while the Ethernet settings dialog is open, the selected module,
// the two options, and their place in the settings store (subkey "Ethernet").
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ethernet/bootme.h"
#include "platform/ui.h"

namespace dz {

inline constexpr std::string_view no_device = "<no device>";
inline constexpr std::size_t selected_device_capacity = 64;  // 63 characters and the terminator
inline constexpr int restored_device_limit = 10;             // "Device0" .. "Device9"
// The most modules the list holds (and the settings keep): a flood of announcements with ever
// new names pushes out the oldest entries, never the selected module.
inline constexpr std::size_t device_list_limit = 32;

// Number of entries of device_list in use. The main window sets it to 0 when it is destroyed;
// the Ethernet close then releases the list.
extern std::atomic<int> device_count;
extern std::atomic<int> accept_all;     // default 1
extern std::atomic<int> fast_download;  // default 0
extern std::atomic<int> listener_stop;  // 1 while no listener runs
// The main window, which shows the selected module's name; and the open settings dialog.
extern std::atomic<ui::Window> notify_window;
extern std::atomic<ui::Window> settings_window;

// The list is shared between the listener thread and the dialogs; these take a consistent copy
// or change it as one step.
std::vector<DeviceRecord> device_list();
// The entry with that name (exact comparison), if any.
bool find_device(std::string_view name, DeviceRecord& record);
std::string selected_device();
void set_selected_device(std::string_view name);  // cut to 63 characters
BootmeInfo last_bootme();
void set_last_bootme(const BootmeInfo& info);
// Appends a restored entry (name only, valid 0); ignored when the list is full.
void append_device(std::string_view name);
// Releases the list's storage when device_count is 0.
void release_device_list_if_empty();

// Puts the whole discovery state back to the start of a run (between tests).
void reset_device_list_state();

// How receive_bootme ended.
enum class BootmeResult { received, stopped, socket_failed };

// Waits for one announcement on a socket of its own (port 980) until the stop flag is set.
bool receive_bootme();
BootmeResult receive_bootme_result();

void start_listener(ui::Window dialog);
void stop_listener();
// The listener thread's routine.
void bootme_listener();
// Takes one announcement into the list and posts the notifications (one pass of the listener
// after an announcement arrived).
void take_announcement(const BootmeInfo& info);

int load_ethernet_settings();
int save_ethernet_settings();

}  // namespace dz
