#pragma once
// Drives the Windows program's real windows as a person would: clicks, typed texts and chosen list
// entries arrive as window messages, and what the windows show is read back from them. Settings
// land in the registry of the Wine prefix. Shared by the Windows GUI tests.
#include <windows.h>
// After <windows.h>:
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "platform/ui_win32.h"
#include "resources/resource.h"
#include "tests/support/temp_dir.h"

namespace dz::testing {

namespace win32 = ui::win32;
inline constexpr const char* key_path = "Software\\Belvona\\DividezUrirer";
inline constexpr std::uint32_t wait_ms = 20000;

inline HWND hwnd(ui::Window w) {
  return reinterpret_cast<HWND>(w);
}
inline HWND item(ui::Window dlg, int id) {
  return GetDlgItem(hwnd(dlg), id);
}

inline std::string window_text(HWND h) {
  char buffer[1024] = {};
  SendMessageA(h, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}
inline std::string text_of(ui::Window dlg, int id) {
  return window_text(item(dlg, id));
}
inline void type(ui::Window dlg, int id, const std::string& text) {
  SendMessageA(item(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}
inline bool checked(ui::Window dlg, int id) {
  return SendMessageA(item(dlg, id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}
inline bool enabled(ui::Window dlg, int id) {
  return IsWindowEnabled(item(dlg, id)) != FALSE;
}
inline bool visible(ui::Window dlg, int id) {
  return (GetWindowLongA(item(dlg, id), GWL_STYLE) & WS_VISIBLE) != 0;
}
// A click that is handled before this returns (nothing modal follows it).
inline void click(ui::Window dlg, int id) {
  SendMessageA(item(dlg, id), BM_CLICK, 0, 0);
}
// A click that opens a modal window: queued, so that the caller can act in that window.
inline void click_later(ui::Window dlg, int id) {
  PostMessageA(item(dlg, id), BM_CLICK, 0, 0);
}
// What the combo box tells its dialog after the user typed or picked an entry.
inline void notify(ui::Window dlg, int id, int code) {
  SendMessageA(hwnd(dlg), WM_COMMAND, MAKEWPARAM(id, code),
               reinterpret_cast<LPARAM>(item(dlg, id)));
}
inline std::vector<std::string> combo_items(ui::Window dlg, int id) {
  std::vector<std::string> out;
  const int n = static_cast<int>(SendMessageA(item(dlg, id), CB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    char buffer[300] = {};
    SendMessageA(item(dlg, id), CB_GETLBTEXT, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(buffer));
    out.emplace_back(buffer);
  }
  return out;
}

// The registry as the program leaves it.
inline std::optional<std::uint32_t> reg_dword(const char* subkey, const char* name) {
  DWORD value = 0, size = sizeof value, type = 0;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  const LONG r =
      RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_DWORD || size != 4) return std::nullopt;
  return value;
}
inline std::optional<std::string> reg_string(const char* subkey, const char* name) {
  char value[512] = {};
  DWORD size = sizeof value, type = 0;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  const LONG r = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return std::string(value);
}
inline std::string value_names(const char* subkey) {
  std::string out;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return "-";
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD size = sizeof name;
    if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    out += std::string(name) + " ";
  }
  RegCloseKey(key);
  return out;
}
inline void reg_set_string(const char* name, const std::string& value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, key_path, &key), ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
}

// Polls `condition` until it holds or `ms` have passed; true when it held.
template <typename Condition>
bool wait_until(Condition condition, std::uint32_t ms = wait_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Cancels a dialog or message box of the user interface thread other than the main window.
inline BOOL CALLBACK cancel_dialog(HWND h, LPARAM main) {
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (h != reinterpret_cast<HWND>(main) && std::string(cls) == "#32770")
    PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
  return TRUE;
}

// Runs program entry on a thread of its own, as the user interface thread.
class Program {
 public:
  explicit Program(std::string command_line = "") {
    thread_ = std::thread([this, command_line] {
      result_ = program_main(command_line);
      done_ = true;
    });
    main_ = win32::wait_for_dialog(IDD_MAIN, wait_ms);
    if (main_ != ui::no_window) ui_thread_ = GetWindowThreadProcessId(hwnd(main_), nullptr);
  }
  ~Program() {
    if (thread_.joinable()) close();
  }
  ui::Window main() const { return main_; }
  DWORD ui_thread() const { return ui_thread_; }
  // The close box: the window saves everything and ends. Whatever a failed test left open on
  // top of it (a message box, a dialog) is cancelled first, so that the program always ends.
  int close() {
    PostMessageA(hwnd(main_), WM_CLOSE, 0, 0);
    while (!done_) {
      if (ui_thread_ != 0) {
        EnumThreadWindows(ui_thread_, cancel_dialog, reinterpret_cast<LPARAM>(hwnd(main_)));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    thread_.join();
    return result_;
  }

 private:
  std::thread thread_;
  ui::Window main_ = ui::no_window;
  DWORD ui_thread_ = 0;
  std::atomic<bool> done_{false};
  int result_ = -1;
};

// A WH_CALLWNDPROC hook on one thread, taken away when the object goes (or by reset), so that a
// test that stops early leaves no hook behind that points into its ended frame.
class ThreadHook {
 public:
  ThreadHook(HOOKPROC proc, DWORD thread)
      : hook_(SetWindowsHookExA(WH_CALLWNDPROC, proc, nullptr, thread)) {}
  ~ThreadHook() { reset(); }
  ThreadHook(const ThreadHook&) = delete;
  ThreadHook& operator=(const ThreadHook&) = delete;
  explicit operator bool() const { return hook_ != nullptr; }
  void reset() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    hook_ = nullptr;
  }

 private:
  HHOOK hook_;
};

// Opens a modal dialog of `template_id` with a click on `button` in `dlg`.
inline ui::Window open_by_click(ui::Window dlg, int button, int template_id) {
  click_later(dlg, button);
  return win32::wait_for_dialog(template_id, wait_ms);
}

// Ends a modal dialog with a click on OK or Cancel and waits until it is gone.
inline void finish(ui::Window dlg, int button) {
  click_later(dlg, button);
  EXPECT_TRUE(win32::wait_closed(dlg, wait_ms));
}

// Picks the Belvona parallel cable in the JTAG settings of the main window `main`, with OK.
inline void choose_belvona_cable(ui::Window main) {
  ui::Window jtag = open_by_click(main, IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
  ASSERT_NE(jtag, ui::no_window);
  click(jtag, IDC_JTAG_BELVONA);
  finish(jtag, IDOK);
}

// Types a bootloader's path into the main window, as the user does, and lets the window check it.
inline void choose_bootloader(ui::Window main, const std::string& path) {
  type(main, IDC_BOOT_FILE, path);
  notify(main, IDC_BOOT_FILE, CBN_EDITCHANGE);
}

// A message box shown by the program, found among the user interface thread's windows.
struct Box {
  HWND window = nullptr;
  std::string caption, text;
  HICON icon = nullptr;
};
inline BOOL CALLBACK find_message_box(HWND h, LPARAM param) {
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  char cls[64] = {};
  GetClassNameA(h, cls, sizeof cls);
  if (std::string(cls) != "#32770" || !IsWindowVisible(h) || GetDlgItem(h, 0xFFFF) == nullptr)
    return TRUE;
  reinterpret_cast<Box*>(param)->window = h;
  return FALSE;
}

// Waits for a message box of `thread`, or of any thread of this process when `thread` is 0 (the
// interfaces show theirs from the detection and download threads).
inline Box wait_for_message_box(DWORD thread = 0) {
  Box box;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!box.window && std::chrono::steady_clock::now() < deadline) {
    if (thread != 0)
      EnumThreadWindows(thread, find_message_box, reinterpret_cast<LPARAM>(&box));
    else
      EnumWindows(find_message_box, reinterpret_cast<LPARAM>(&box));
    if (!box.window) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!box.window) return box;
  box.caption = window_text(box.window);
  box.text = window_text(GetDlgItem(box.window, 0xFFFF));
  for (HWND child = GetWindow(box.window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
      box.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  }
  return box;
}

class GuiTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, key_path); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, key_path); }
  test::TempDir dir_;
};

}  // namespace dz::testing
