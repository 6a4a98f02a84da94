// HTML Help on Windows: the control registered under its class id (or hhctrl.ocx by name),
// loaded on first use; HtmlHelpA is its export by ordinal 14.
#include <windows.h>
// windows.h first
#include <shellapi.h>

#include <memory>
#include <mutex>
#include <string>
#include <type_traits>

#include "platform/help.h"

namespace dz::help {

namespace {

using HtmlHelpProc = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);

// The search record of HH_DISPLAY_SEARCH, laid out as htmlhelp.h declares HH_FTS_QUERY (that
// header is not included: its command macros would replace the names of help.h).
struct FtsQuery {
  int cbStruct;
  BOOL fUniCodeStrings;
  LPCSTR pszSearchQuery;
  LONG iProximity;
  BOOL fStemmedSearch;
  BOOL fTitleOnly;
  BOOL fExecute;
  LPCSTR pszWindow;
};

struct LibraryCloser {
  void operator()(HMODULE library) const { FreeLibrary(library); }
};
struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};

struct HtmlHelpLibrary {
  std::mutex lock;
  std::string override_path;  // tests: this file instead of the registered control
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
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return "";
  }
  path[sizeof path - 1] = '\0';
  if (type == REG_SZ) return path;
  // Windows registers the control as "%SystemRoot%\System32\hhctrl.ocx", which LoadLibraryA
  // does not expand.
  char expanded[260] = {};
  const DWORD length = ExpandEnvironmentStringsA(path, expanded, sizeof expanded);
  if (length == 0 || length > sizeof expanded) return "";
  return expanded;
}

// Loads the library and finds the entry once; false after a failure (remembered).
HtmlHelpProc entry_point() {
  auto& s = html_help_library();
  std::lock_guard guard(s.lock);
  if (s.failed) return nullptr;
  if (s.entry) return s.entry;
  if (!s.library) {
    const std::string registered = s.override_path.empty() ? registered_control() : s.override_path;
    HMODULE library = registered.empty() ? nullptr : LoadLibraryA(registered.c_str());
    if (!library && s.override_path.empty()) library = LoadLibraryA("hhctrl.ocx");
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

void set_control_library(std::string path) {
  auto& s = html_help_library();
  std::lock_guard guard(s.lock);
  s.override_path = std::move(path);
}

std::intptr_t platform_html_help(ui::Window owner, const std::string& topic, unsigned command,
                                 std::uintptr_t data) {
  HtmlHelpProc entry = entry_point();
  if (!entry) return 0;
  // Only a real window can own the viewer (dialogs on the headless host are not windows).
  HWND window = reinterpret_cast<HWND>(owner);
  if (window && !IsWindow(window)) window = nullptr;
  // A search needs a query record; without one the viewer refuses the command.
  FtsQuery query{};
  if (command == HH_DISPLAY_SEARCH && data == 0) {
    query.cbStruct = sizeof query;
    query.iProximity = -1;
    query.fExecute = FALSE;
    data = reinterpret_cast<std::uintptr_t>(&query);
  }
  return reinterpret_cast<std::intptr_t>(entry(window, topic.c_str(), command, data));
}

}  // namespace dz::help

namespace dz::help {

std::string program_directory() {
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  std::string text(path, length);
  const std::size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? "" : text.substr(0, slash);
}

bool open_document(const std::string& target, std::string& error) {
  const auto result = reinterpret_cast<std::intptr_t>(
      ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  // ShellExecute reports success with a value above 32.
  if (result > 32) return true;
  error = "cannot open " + target + " (shell error " + std::to_string(result) + ")";
  return false;
}

}  // namespace dz::help
