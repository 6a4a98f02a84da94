// HTML Help on Windows: the control registered under its class id (or hhctrl.ocx by name),
// loaded on first use; HtmlHelpA is its export by ordinal 14.
#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/help.h"

namespace dz::help {

namespace {

using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

struct LibraryCloser {
  void operator()(HMODULE library) const { FreeLibrary(library); }
};
struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};

struct HtmlHelpLibrary {
  std::mutex lock;
  std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryCloser> library;
  HtmlHelpProc entry = nullptr;
  bool failed = false;
};

HtmlHelpLibrary& html_help_library() {
  static HtmlHelpLibrary state;
  return state;
}

// The file that the registry names for the HTML Help control, or "".
std::string registered_control() {
  HKEY raw = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT,
                    "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32", 0,
                    KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS) {
    return "";
  }
  std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser> key(raw);
  char path[260] = {};
  DWORD size = sizeof path - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
      ERROR_SUCCESS) {
    return "";
  }
  path[sizeof path - 1] = '\0';
  return path;
}

// Loads the library and finds the entry once; false after a failure (remembered).
HtmlHelpProc entry_point() {
  auto& s = html_help_library();
  std::lock_guard guard(s.lock);
  if (s.failed) return nullptr;
  if (s.entry) return s.entry;
  if (!s.library) {
    const std::string registered = registered_control();
    HMODULE library = registered.empty() ? nullptr : LoadLibraryA(registered.c_str());
    if (!library) library = LoadLibraryA("hhctrl.ocx");
    if (!library) {
      s.failed = true;
      return nullptr;
    }
    s.library.reset(library);
  }
  s.entry = reinterpret_cast<HtmlHelpProc>(
      reinterpret_cast<void*>(GetProcAddress(s.library.get(), MAKEINTRESOURCEA(14))));
  if (!s.entry) s.failed = true;
  return s.entry;
}

}  // namespace

std::intptr_t platform_html_help(ui::Window owner, const std::string& topic, unsigned command,
                                 std::uintptr_t data) {
  HtmlHelpProc entry = entry_point();
  if (!entry) return 0;
  // Only a real window can own the viewer (dialogs on the headless host are not windows).
  HWND window = reinterpret_cast<HWND>(owner);
  if (window && !IsWindow(window)) window = nullptr;
  return reinterpret_cast<std::intptr_t>(entry(window, topic.c_str(), command, data));
}

}  // namespace dz::help
