// The main window: recent-file lists, file summaries, options, starting download jobs.
#include "app/main_window.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "app/about_dialog.h"
#include "app/options_dialogs.h"
#include "download/interface.h"
#include "download/job.h"
#include "download/options.h"
#include "ethernet/device_list.h"
#include "image/bin_image.h"
#include "platform/files.h"
#include "platform/help.h"
#include "platform/settings.h"
#include "resources/resource.h"

namespace dz {

namespace {

constexpr std::size_t path_capacity = 260;    // file name fields, including the terminator
constexpr std::size_t recent_capacity = 256;  // a stored recent-file name, with terminator
constexpr int recent_count = 10;

// The controls of one half of the window.
struct Half {
  int combo;
  int type;
  int start;
  int length;
  int download;
  const char* value_format;  // recent-file value names
  int is_bootloader;
};

constexpr Half bootloader_half{IDC_BOOT_FILE,
                               IDC_BOOT_TYPE,
                               IDC_BOOT_START,
                               IDC_BOOT_LENGTH,
                               IDC_BOOT_DOWNLOAD,
                               "Bootloader%d",
                               1};
constexpr Half image_half{IDC_IMAGE_FILE,
                          IDC_IMAGE_TYPE,
                          IDC_IMAGE_START,
                          IDC_IMAGE_LENGTH,
                          IDC_IMAGE_DOWNLOAD,
                          "Image%d",
                          0};

std::atomic<int> job_result{-1};

std::string value_name(const Half& half, int index) {
  char name[32];
  std::snprintf(name, sizeof name, half.value_format, index);
  return name;
}

// The combo's edit text as a 260-character buffer would hold it.
std::string file_text(ui::Window dlg, const Half& half) {
  std::string text = ui::text(dlg, half.combo);
  if (text.size() >= path_capacity) text.resize(path_capacity - 1);
  return text;
}

// Only a regular file is opened: a FIFO would block the window (a recent-file entry is described
// at start-up) and a directory or device is no image. Anything else is shown as unreadable.
void describe_half(ui::Window dlg, const Half& half) {
  const std::string path = file_text(dlg, half);
  describe(dlg, files::is_regular_file(path) ? path : std::string(), half.is_bootloader != 0);
}

void load_recent(ui::Window dlg, const Half& half, settings::Key* key) {
  if (key != nullptr) {
    for (int i = 0; i < recent_count; ++i) {
      std::string name;
      if (key->read_string(value_name(half, i), name, recent_capacity))
        ui::combo_add(dlg, half.combo, name);
    }
  }
  if (ui::combo_count(dlg, half.combo) > 0) ui::combo_select(dlg, half.combo, 0);
  describe_half(dlg, half);
}

void save_recent(ui::Window dlg, const Half& half, settings::Key& key) {
  int count = ui::combo_count(dlg, half.combo);
  if (count > recent_count) count = recent_count;
  for (int i = 0; i < count; ++i)
    if (!key.write_string(value_name(half, i), ui::combo_item(dlg, half.combo, i))) return;
}

// CBN_SELCHANGE: the chosen entry moves to the top and is described.
void move_selection_to_top(ui::Window dlg, const Half& half) {
  int selected = ui::combo_selection(dlg, half.combo);
  if (selected < 0) return;
  std::string item = ui::combo_item(dlg, half.combo, selected);
  ui::combo_delete(dlg, half.combo, selected);
  ui::combo_insert(dlg, half.combo, 0, item);
  ui::combo_select(dlg, half.combo, 0);
  describe_half(dlg, half);
}

void browse(ui::Window dlg, const Half& half) {
  static const std::pair<std::string, std::string> filters[] = {{"WinCE Images", "*.bin"},
                                                                {"All Files", "*.*"}};
  std::string path = file_text(dlg, half);
  ui::open_file(dlg, path, "Please Select a Image File", filters);
  if (path.size() >= path_capacity) path.resize(path_capacity - 1);
  ui::set_text(dlg, half.combo, path);
  describe_half(dlg, half);
}

int checked_image_interface(ui::Window dlg) {
  if (ui::is_checked(dlg, IDC_IMAGE_JTAG)) return jtag_interface_index;
  if (ui::is_checked(dlg, IDC_IMAGE_SERIAL)) return serial_interface_index;
  if (ui::is_checked(dlg, IDC_IMAGE_USB)) return usb_interface_index;
  return ethernet_interface_index;
}

void start_download(ui::Window dlg, const Half& half) {
  verify_after_write = ui::is_checked(dlg, IDC_VERIFY) ? 1 : 0;
  std::string path = file_text(dlg, half);
  if (ui::combo_find_exact(dlg, half.combo, path) < 0) ui::combo_insert(dlg, half.combo, 0, path);
  int index = half.is_bootloader ? jtag_interface_index : checked_image_interface(dlg);
  int is_raw = ui::text(dlg, half.type) != "WinCE" ? 1 : 0;
  std::uint32_t start = parse_hex(ui::text(dlg, half.start));
  std::uint32_t length = parse_hex(ui::text(dlg, half.length));
  job_result = start_download_job(dlg, index, path, is_raw, start, length, half.is_bootloader);
}

void interface_settings(ui::Window dlg, int index) {
  const DownloadInterface& record = download_interfaces[index];
  if (record.settings_dialog != nullptr) record.settings_dialog(dlg);
}

// Saves every setting in the order the window keeps; each group stops at its own first failure.
// The key stays open throughout, so that the file store writes all changes at once.
void save_all(ui::Window dlg) {
  std::unique_ptr<settings::Key> key = settings::open_key(settings::main_key);
  if (key != nullptr) {
    save_recent(dlg, bootloader_half, *key);
    save_recent(dlg, image_half, *key);
  }
  for (const DownloadInterface& record : download_interfaces)
    if (record.save_settings != nullptr) record.save_settings();
  if (key != nullptr) {
    save_bootloader_options(*key);
    save_image_options(*key);
  }
}

void initialise(ui::Window dlg) {
  char caption[64];
  std::snprintf(caption, sizeof caption, "Quintar Loader %d.%2d", version_major, version_minor);
  ui::set_caption(dlg, caption);
  ui::set_icon(dlg, IDI_MAIN);
  ui::set_text(dlg, IDC_BOOT_FILE, "eboot.bin");
  ui::set_text(dlg, IDC_IMAGE_FILE, "nk.bin");
  ui::check(dlg, IDC_BOOT_JTAG, true);
  ui::check_radio(dlg, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_ETHERNET);
  ui::enable(dlg, IDC_BOOT_DOWNLOAD, false);
  ui::enable(dlg, IDC_IMAGE_DOWNLOAD, false);
  ui::enable(dlg, IDC_IMAGE_USB, false);

  // Settings are read here once; a key that cannot be opened leaves every default.
  std::unique_ptr<settings::Key> key = settings::open_key(settings::main_key);
  load_recent(dlg, bootloader_half, key.get());
  load_recent(dlg, image_half, key.get());
  for (const DownloadInterface& record : download_interfaces)
    if (record.load_settings != nullptr) record.load_settings();
  if (key != nullptr) {
    load_bootloader_options(*key);
    load_image_options(*key);
  }
  key.reset();
  // What a save would write now is what this run loaded: the save at close then writes only
  // the values that changed since.
  settings::begin_recording_loaded_values();
  save_all(dlg);
  settings::end_recording_loaded_values();
}

void close_window(ui::Window dlg) {
  save_all(dlg);
  ui::end_dialog(dlg, 1);
}

void on_command(ui::Window dlg, const ui::Command& command) {
  switch (command.id) {
    case ui::IDCANCEL:
    case ID_FILE_EXIT:
      close_window(dlg);
      break;
    case IDC_DEVICE_NAME_NOTIFY:
      ui::set_text(dlg, IDC_CURRENT_DEVICE, command.text);
      break;
    case IDC_BOOT_FILE:
    case IDC_IMAGE_FILE: {
      const Half& half = command.id == IDC_BOOT_FILE ? bootloader_half : image_half;
      if (command.notification == ui::CBN_SELCHANGE)
        move_selection_to_top(dlg, half);
      else if (command.notification == ui::CBN_EDITCHANGE)
        describe_half(dlg, half);
      break;
    }
    case IDC_BOOT_BROWSE:
      browse(dlg, bootloader_half);
      break;
    case IDC_IMAGE_BROWSE:
      browse(dlg, image_half);
      break;
    case IDC_BOOT_DOWNLOAD:
      start_download(dlg, bootloader_half);
      break;
    case IDC_IMAGE_DOWNLOAD:
      start_download(dlg, image_half);
      break;
    case IDC_BOOT_INTERFACE_SETTINGS:
      interface_settings(dlg, jtag_interface_index);
      break;
    case IDC_IMAGE_INTERFACE_SETTINGS:
      interface_settings(dlg, checked_image_interface(dlg));
      break;
    case IDC_BOOT_OPTIONS:
      run_bootloader_options(dlg);
      break;
    case IDC_IMAGE_OPTIONS:
      run_image_options(dlg);
      break;
    case ID_HELP_ABOUT:
      run_about_dialog(dlg);
      break;
    case ID_HELP_CONTENTS:
      help::html_help(dlg, help::help_file, help::HH_DISPLAY_TOC, 0);
      break;
    case ID_HELP_INDEX:
      help::html_help(dlg, help::help_file, help::HH_DISPLAY_INDEX, 0);
      break;
    case ID_HELP_SEARCH:
      help::html_help(dlg, help::help_file, help::HH_DISPLAY_SEARCH, 0);
      break;
    default:
      break;
  }
}

}  // namespace

ui::DialogProc main_window_proc() {
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) { initialise(dlg); };
  proc.command = on_command;
  proc.destroy = [](ui::Window) { device_count = 0; };
  return proc;
}

std::intptr_t run_main_window(ui::Window owner) {
  return ui::run_dialog(IDD_MAIN, owner, main_window_proc());
}

int last_job_result() {
  return job_result;
}
void reset_main_window_state() {
  job_result = -1;
}

}  // namespace dz
