// HTML Help on Windows through the platform's own path: the control library loaded at run time,
// its ordinal 14 called. The stand-in control fake_hhctrl.dll records each call, since Wine's
// viewer may show nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/help.h"
#include "tests/help/fake_hhctrl/fake_hhctrl.h"

namespace dz::help {
namespace {

std::string test_folder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path);
  return text.substr(0, text.find_last_of("\\/"));
}

std::vector<FakeHelpCall> recorded_calls() {
  HMODULE control = GetModuleHandleA("fake_hhctrl.dll");
  if (!control) return {};
  auto calls = reinterpret_cast<FakeHelpCallsProc>(
      reinterpret_cast<void*>(GetProcAddress(control, "fake_hhctrl_calls")));
  if (!calls) return {};
  std::vector<FakeHelpCall> out(16);
  out.resize(static_cast<std::size_t>(calls(out.data(), static_cast<int>(out.size()))));
  return out;
}

TEST(HtmlHelp, TheControlIsLoadedAtRunTimeAndCalledWithFileTopicAndCommand) {
  ASSERT_EQ(GetModuleHandleA("fake_hhctrl.dll"), nullptr);
  set_control_library(test_folder() + "\\fake_hhctrl.dll");
  // A window that exists is passed on as the viewer's owner; a dialog of the headless host is no
  // window and the viewer gets none.
  HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  const ui::Window dialog = reinterpret_cast<ui::Window>(owner);

  EXPECT_EQ(html_help(dialog, "DividezUrirer.chm::/ConnectionJtag.htm", HH_DISPLAY_TOPIC, 0),
            FAKE_HHCTRL_RESULT);
  // Loaded on first use, once.
  EXPECT_NE(GetModuleHandleA("fake_hhctrl.dll"), nullptr);
  EXPECT_EQ(
      html_help(ui::Window{12345}, "DividezUrirer.chm::/ConnectionSerial.htm", HH_DISPLAY_TOPIC, 0),
      FAKE_HHCTRL_RESULT);
  EXPECT_EQ(html_help(dialog, help_file, HH_DISPLAY_TOC, 0), FAKE_HHCTRL_RESULT);
  EXPECT_EQ(html_help(dialog, help_file, HH_DISPLAY_SEARCH, 0), FAKE_HHCTRL_RESULT);
  EXPECT_EQ(html_help(dialog, help_file, HH_DISPLAY_INDEX, 0), FAKE_HHCTRL_RESULT);

  // A handler takes the requests instead while it is set.
  int handled = 0;
  set_handler([&](ui::Window, const std::string&, unsigned, std::uintptr_t) {
    ++handled;
    return std::intptr_t{7};
  });
  EXPECT_EQ(html_help(dialog, help_file, HH_DISPLAY_TOC, 0), 7);
  set_handler(nullptr);
  EXPECT_EQ(handled, 1);

  const std::vector<FakeHelpCall> calls = recorded_calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls[0].window, owner);
  EXPECT_STREQ(calls[0].file, "DividezUrirer.chm::/ConnectionJtag.htm");
  EXPECT_EQ(calls[0].command, 0u);
  EXPECT_EQ(calls[0].data, 0u);
  EXPECT_EQ(calls[1].window, nullptr);
  EXPECT_STREQ(calls[1].file, "DividezUrirer.chm::/ConnectionSerial.htm");
  EXPECT_EQ(calls[1].command, 0u);
  EXPECT_STREQ(calls[2].file, "DividezUrirer.chm");
  EXPECT_EQ(calls[2].command, 1u);  // HH_DISPLAY_TOC
  EXPECT_EQ(calls[2].data, 0u);
  EXPECT_EQ(calls[3].command, 3u);  // HH_DISPLAY_SEARCH, with its search record
  EXPECT_NE(calls[3].data, 0u);
  // HH_FTS_QUERY: 40 bytes in a 64-bit program, 32 in a 32-bit one.
  EXPECT_EQ(calls[3].search_record_size, sizeof(void*) == 8 ? 40 : 32);
  EXPECT_EQ(calls[4].command, 2u);  // HH_DISPLAY_INDEX
  EXPECT_EQ(calls[4].data, 0u);
  DestroyWindow(owner);
}

TEST(HtmlHelp, AFailedLoadIsRememberedAndEveryLaterCallReturnsZero) {
  set_control_library(test_folder() + "\\no_such_control.ocx");
  EXPECT_EQ(html_help(ui::no_window, "DividezUrirer.chm::/ConnectionJtag.htm", HH_DISPLAY_TOPIC, 0),
            0);
  // Not tried again, even once the control would be there.
  set_control_library(test_folder() + "\\fake_hhctrl.dll");
  EXPECT_EQ(html_help(ui::no_window, "DividezUrirer.chm::/ConnectionJtag.htm", HH_DISPLAY_TOPIC, 0),
            0);
  EXPECT_EQ(GetModuleHandleA("fake_hhctrl.dll"), nullptr);
}

TEST(HtmlHelp, ALibraryWithoutTheEntryIsAFailure) {
  // The test program itself loads as a library but exports no ordinal 14: the failure is
  // remembered.
  set_control_library(test_folder() + "\\test_help.exe");
  EXPECT_EQ(html_help(ui::no_window, help_file, HH_DISPLAY_TOC, 0), 0);
  set_control_library(test_folder() + "\\fake_hhctrl.dll");
  EXPECT_EQ(html_help(ui::no_window, help_file, HH_DISPLAY_TOC, 0), 0);
  EXPECT_EQ(GetModuleHandleA("fake_hhctrl.dll"), nullptr);
}

}  // namespace
}  // namespace dz::help
