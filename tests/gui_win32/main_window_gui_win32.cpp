// The Windows program's real windows, driven as a person would: clicks, typed texts and chosen
// list entries arrive as window messages, and what the windows show is read back from them (texts,
// check marks, progress bars, the pixels of the flash map). Settings land in the registry of the
// Wine prefix. The main window runs on its own thread, as program entry runs it.
#include <windows.h>
// After <windows.h>:
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/programs/windows_target.h"
#include "app/startup.h"
#include "platform/ui_win32.h"
#include "resources/resource.h"
#include "tests/gui_win32/gui_driver.h"
#include "tests/image/image_builder.h"
#include "tests/support/temp_dir.h"

namespace dz::testing {
namespace {

TEST_F(GuiTest, MainWindowStartsAsDescribedAndItsMenuWorks) {
  Program program;
  const ui::Window main = program.main();
  ASSERT_NE(main, ui::no_window);
  EXPECT_EQ(window_text(hwnd(main)), "Quintar Loader 3. 3");
  // The big icon 119, where the program's resources carry one.
  if (LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_MAIN)) != nullptr) {
    EXPECT_NE(SendMessageA(hwnd(main), WM_GETICON, ICON_BIG, 0), 0);
  }
  EXPECT_TRUE(checked(main, IDC_BOOT_JTAG));
  EXPECT_TRUE(checked(main, IDC_IMAGE_ETHERNET));
  for (int id : {IDC_IMAGE_JTAG, IDC_IMAGE_SERIAL, IDC_IMAGE_USB, IDC_VERIFY})
    EXPECT_FALSE(checked(main, id)) << id;
  for (int id : {IDC_BOOT_DOWNLOAD, IDC_IMAGE_DOWNLOAD, IDC_IMAGE_USB})
    EXPECT_FALSE(enabled(main, id)) << id;
  EXPECT_TRUE(enabled(main, IDC_IMAGE_ETHERNET));
  EXPECT_EQ(text_of(main, IDC_BOOT_FILE), "eboot.bin");
  EXPECT_EQ(text_of(main, IDC_IMAGE_FILE), "nk.bin");
  // Read-only summaries of the bootloader half; the image half's fields can be typed in.
  EXPECT_TRUE(GetWindowLongA(item(main, IDC_BOOT_START), GWL_STYLE) & ES_READONLY);
  EXPECT_FALSE(GetWindowLongA(item(main, IDC_IMAGE_START), GWL_STYLE) & ES_READONLY);

  HMENU menu = GetMenu(hwnd(main));
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(GetMenuItemCount(menu), 2);
  auto item_text = [](HMENU m, UINT pos) {
    char buffer[64] = {};
    GetMenuStringA(m, pos, buffer, sizeof buffer, MF_BYPOSITION);
    return std::string(buffer);
  };
  EXPECT_EQ(item_text(menu, 0), "File");
  EXPECT_EQ(item_text(menu, 1), "&Help");
  HMENU file = GetSubMenu(menu, 0);
  ASSERT_EQ(GetMenuItemCount(file), 1);
  EXPECT_EQ(item_text(file, 0), "Exit");
  EXPECT_EQ(GetMenuItemID(file, 0), static_cast<UINT>(ID_FILE_EXIT));
  HMENU help = GetSubMenu(menu, 1);
  ASSERT_EQ(GetMenuItemCount(help), 5);
  const std::pair<const char*, int> help_items[] = {{"&Contents", ID_HELP_CONTENTS},
                                                    {"&Search", ID_HELP_SEARCH},
                                                    {"&Index", ID_HELP_INDEX},
                                                    {"", 0},
                                                    {"&About", ID_HELP_ABOUT}};
  for (UINT i = 0; i < 5; ++i) {
    EXPECT_EQ(item_text(help, i), help_items[i].first) << i;
    if (help_items[i].second != 0) {
      EXPECT_EQ(GetMenuItemID(help, static_cast<int>(i)), static_cast<UINT>(help_items[i].second));
    }
  }
  EXPECT_TRUE(GetMenuState(help, 3, MF_BYPOSITION) & MF_SEPARATOR);

  // Help > About, as the menu sends it.
  PostMessageA(hwnd(main), WM_COMMAND, MAKEWPARAM(ID_HELP_ABOUT, 0), 0);
  ui::Window about = win32::wait_for_dialog(IDD_ABOUT, wait_ms);
  ASSERT_NE(about, ui::no_window);
  EXPECT_EQ(window_text(hwnd(about)), "About");
  EXPECT_EQ(text_of(about, IDC_ABOUT_VERSION), "Version 3.03 Built Aug 22 2014");
  // Escape does not close it; OK does.
  SendMessageA(hwnd(about), WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(IsWindow(hwnd(about)));
  finish(about, IDOK);

  // File > Exit ends the program with 1.
  PostMessageA(hwnd(main), WM_COMMAND, MAKEWPARAM(ID_FILE_EXIT, 0), 0);
  EXPECT_TRUE(win32::wait_closed(main, wait_ms));
  EXPECT_EQ(program.close(), 1);
}

TEST_F(GuiTest, SettingsDialogsKeepOkAndDropCancelAndTheRegistryHoldsTheResult) {
  {
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);

    // Bootloader Options: defaults shown disabled; Cancel drops a change, OK keeps one.
    ui::Window options = open_by_click(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
    ASSERT_NE(options, ui::no_window);
    EXPECT_EQ(text_of(options, IDC_FIX_IP_ADDRESS), "192.168.0.1");
    EXPECT_EQ(text_of(options, IDC_FIX_SUBNET), "255.255.255.0");
    EXPECT_FALSE(enabled(options, IDC_FIX_IP_ADDRESS));
    EXPECT_FALSE(enabled(options, IDC_FIX_SUBNET));
    click(options, IDC_FIX_IP);
    EXPECT_TRUE(enabled(options, IDC_FIX_IP_ADDRESS));
    click(options, IDC_FAST_BOOT);
    finish(options, IDCANCEL);
    options = open_by_click(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
    ASSERT_NE(options, ui::no_window);
    EXPECT_FALSE(checked(options, IDC_FIX_IP));
    EXPECT_FALSE(checked(options, IDC_FAST_BOOT));
    click(options, IDC_FIX_IP);
    SendMessageA(item(options, IDC_FIX_IP_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 1, 2, 3));
    SendMessageA(item(options, IDC_FIX_SUBNET), IPM_SETADDRESS, 0, MAKEIPADDRESS(255, 255, 0, 0));
    click(options, IDC_FAST_BOOT);
    finish(options, IDOK);

    // Image Options.
    ui::Window image = open_by_click(main, IDC_IMAGE_OPTIONS, IDD_IMAGE_OPTIONS);
    ASSERT_NE(image, ui::no_window);
    EXPECT_EQ(text_of(image, IDC_ROM_OFFSET), "0xf2020000");
    EXPECT_FALSE(enabled(image, IDC_ROM_OFFSET));
    click(image, IDC_ROM_OFFSET_ENABLE);
    EXPECT_TRUE(enabled(image, IDC_ROM_OFFSET));
    type(image, IDC_ROM_OFFSET, "0x12345678");
    finish(image, IDCANCEL);
    image = open_by_click(main, IDC_IMAGE_OPTIONS, IDD_IMAGE_OPTIONS);
    ASSERT_NE(image, ui::no_window);
    EXPECT_FALSE(checked(image, IDC_ROM_OFFSET_ENABLE));
    EXPECT_EQ(text_of(image, IDC_ROM_OFFSET), "0xf2020000");
    click(image, IDC_ROM_OFFSET_ENABLE);
    type(image, IDC_ROM_OFFSET, "0x80040000");
    finish(image, IDOK);

    // JTAG settings (the bootloader half's Interface Settings...).
    ui::Window jtag = open_by_click(main, IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
    ASSERT_NE(jtag, ui::no_window);
    EXPECT_EQ(text_of(jtag, IDC_JTAG_ZO), "Z&&O Parallel Port Adapter");
    click(jtag, IDC_JTAG_INSIGHT);
    finish(jtag, IDCANCEL);
    jtag = open_by_click(main, IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
    ASSERT_NE(jtag, ui::no_window);
    EXPECT_FALSE(checked(jtag, IDC_JTAG_INSIGHT));
    click(jtag, IDC_JTAG_WIGGLER);
    EXPECT_TRUE(checked(jtag, IDC_JTAG_WIGGLER));
    EXPECT_FALSE(visible(jtag, IDC_JTAG_SPEED));
    click(jtag, IDC_JTAG_USB);  // shows the speed field...
    EXPECT_TRUE(visible(jtag, IDC_JTAG_SPEED));
    type(jtag, IDC_JTAG_SPEED, "750");
    click(jtag, IDC_JTAG_WIGGLER);  // ...and the parallel adapter hides it again
    EXPECT_FALSE(visible(jtag, IDC_JTAG_SPEED));
    finish(jtag, IDOK);

    // Serial settings: the image half's Serial, then its Interface Settings...
    click(main, IDC_IMAGE_SERIAL);
    EXPECT_TRUE(checked(main, IDC_IMAGE_SERIAL));
    EXPECT_FALSE(checked(main, IDC_IMAGE_ETHERNET));
    ui::Window serial = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_SERIAL_SETTINGS);
    ASSERT_NE(serial, ui::no_window);
    EXPECT_EQ(window_text(hwnd(serial)), "Serial Interface Settings");
    EXPECT_FALSE(enabled(serial, IDC_PORT_SPEED));
    EXPECT_EQ(combo_items(serial, IDC_PORT_SPEED), (std::vector<std::string>{"115200", "230400"}));
    finish(serial, IDCANCEL);
    serial = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_SERIAL_SETTINGS);
    ASSERT_NE(serial, ui::no_window);
    const std::vector<std::string> ports = combo_items(serial, IDC_COM_PORT);
    if (!ports.empty()) {
      SendMessageA(item(serial, IDC_COM_PORT), CB_SETCURSEL, ports.size() - 1, 0);
      notify(serial, IDC_COM_PORT, CBN_SELCHANGE);
    }
    finish(serial, IDOK);

    // Ethernet settings.
    click(main, IDC_IMAGE_ETHERNET);
    ui::Window ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
    ASSERT_NE(ethernet, ui::no_window);
    EXPECT_EQ(window_text(hwnd(ethernet)), "Ethernet Interface Settings");
    const bool accept_all = checked(ethernet, IDC_ACCEPT_ALL);
    click(ethernet, IDC_FAST_DOWNLOAD);
    finish(ethernet, IDCANCEL);
    ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
    ASSERT_NE(ethernet, ui::no_window);
    EXPECT_FALSE(checked(ethernet, IDC_FAST_DOWNLOAD));
    click(ethernet, IDC_FAST_DOWNLOAD);
    click(ethernet, IDC_ACCEPT_ALL);
    finish(ethernet, IDOK);
    EXPECT_EQ(program.close(), 1);

    EXPECT_EQ(reg_dword(key_path, "BootloaderFixIP"), 1u);
    EXPECT_EQ(reg_dword(key_path, "BootloaderIP"), 0x0A010203u);
    EXPECT_EQ(reg_dword(key_path, "BootloaderSubnet"), 0xFFFF0000u);
    EXPECT_EQ(reg_dword(key_path, "BootloaderFastBoot"), 1u);
    EXPECT_EQ(reg_dword(key_path, "ImageROMOffsetEnable"), 1u);
    EXPECT_EQ(reg_dword(key_path, "ImageROMOffset"), 0x80040000u);
    EXPECT_EQ(reg_dword(key_path, "JTAGInterface"), 2u);
    EXPECT_EQ(reg_dword(key_path, "JTAGSpeed"), 750000u);
    // A setting still at the default it was loaded with is not written back: "COM1" stays
    // unwritten, another port is stored.
    const std::string chosen = ports.empty() ? std::string() : ports.back();
    if (chosen == "COM1")
      EXPECT_EQ(reg_string(key_path, "ComPort"), std::nullopt) << value_names(key_path);
    else
      EXPECT_EQ(reg_string(key_path, "ComPort"), chosen) << value_names(key_path);
    const std::string ethernet_key = std::string(key_path) + "\\Ethernet";
    EXPECT_EQ(reg_dword(ethernet_key.c_str(), "FastDL"), 1u);
    EXPECT_EQ(reg_dword(ethernet_key.c_str(), "AcceptAll"), accept_all ? 0u : 1u);
  }
  // A restart shows what was stored.
  Program again;
  const ui::Window main = again.main();
  ASSERT_NE(main, ui::no_window);
  ui::Window options = open_by_click(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
  ASSERT_NE(options, ui::no_window);
  EXPECT_TRUE(checked(options, IDC_FIX_IP));
  EXPECT_EQ(text_of(options, IDC_FIX_IP_ADDRESS), "10.1.2.3");
  EXPECT_EQ(text_of(options, IDC_FIX_SUBNET), "255.255.0.0");
  EXPECT_TRUE(enabled(options, IDC_FIX_SUBNET));
  finish(options, IDCANCEL);
  ui::Window jtag = open_by_click(main, IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
  ASSERT_NE(jtag, ui::no_window);
  EXPECT_TRUE(checked(jtag, IDC_JTAG_WIGGLER));
  finish(jtag, IDCANCEL);
  EXPECT_EQ(again.close(), 1);
}

TEST_F(GuiTest, RecentFilesMoveToTheTopAndSurviveARestart) {
  for (int i = 0; i < 3; ++i) {
    const std::string path = (dir_.path() / ("nk" + std::to_string(i) + ".bin")).string();
    test::write_file(path, make_image(0x80000000, 0x10, {{0x80000000, {1, 2, 3, 4}}}));
    reg_set_string(("Image" + std::to_string(i)).c_str(), path);
  }
  const std::string nk2 = (dir_.path() / "nk2.bin").string();
  {
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);
    std::vector<std::string> items = combo_items(main, IDC_IMAGE_FILE);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(text_of(main, IDC_IMAGE_FILE), items[0]);
    EXPECT_EQ(text_of(main, IDC_IMAGE_TYPE), "WinCE");
    EXPECT_TRUE(enabled(main, IDC_IMAGE_DOWNLOAD));
    // The person picks the last entry: it moves to the top.
    SendMessageA(item(main, IDC_IMAGE_FILE), CB_SETCURSEL, 2, 0);
    notify(main, IDC_IMAGE_FILE, CBN_SELCHANGE);
    items = combo_items(main, IDC_IMAGE_FILE);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], nk2);
    EXPECT_EQ(text_of(main, IDC_IMAGE_FILE), nk2);
    // The Ethernet parts name the chosen module with command 104 from their own threads; the
    // posted name arrives intact although its source is gone by then.
    std::thread([main] {
      ui::Command posted;
      posted.id = IDC_DEVICE_NAME_NOTIFY;
      posted.text = std::string("PXA270-") + "0A1B2C";
      ui::post_command(main, std::move(posted));
    }).join();
    wait_until([&] { return !text_of(main, IDC_CURRENT_DEVICE).empty(); }, 10000);
    EXPECT_EQ(text_of(main, IDC_CURRENT_DEVICE), "PXA270-0A1B2C");
    std::thread([main] {
      ui::Command sent;
      sent.id = IDC_DEVICE_NAME_NOTIFY;
      sent.text = "PXA270-FFEEDD";
      ui::send_command(main, sent);
    }).join();
    EXPECT_EQ(text_of(main, IDC_CURRENT_DEVICE), "PXA270-FFEEDD");
    // A typed name that cannot be opened disables the download button.
    choose_bootloader(main, (dir_.path() / "missing.bin").string());
    EXPECT_FALSE(enabled(main, IDC_BOOT_DOWNLOAD));
    EXPECT_EQ(text_of(main, IDC_BOOT_TYPE), "");
    EXPECT_EQ(program.close(), 1);
  }
  EXPECT_EQ(reg_string(key_path, "Image0"), nk2);
  Program again;
  ASSERT_NE(again.main(), ui::no_window);
  const std::vector<std::string> items = combo_items(again.main(), IDC_IMAGE_FILE);
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0], nk2);
  EXPECT_EQ(text_of(again.main(), IDC_IMAGE_FILE), nk2);
  EXPECT_EQ(again.close(), 1);
}

// Watches the windows of the user interface thread: the captions the detection window gets, the
// stage texts of the Download window, and what that window shows when its last stage begins.
struct Watch {
  std::mutex mutex;
  std::vector<std::string> captions;
  std::vector<std::string> stages;
  bool snapshot_taken = false;
  std::uint32_t section_pos = 0, section_max = 0, total_pos = 0, total_max = 0;
  bool section_shown = false, total_shown = false, map_shown = false;
  std::vector<COLORREF> cell_colours;
};
Watch* watch = nullptr;

void take_snapshot(ui::Window dlg) {
  watch->section_pos =
      static_cast<std::uint32_t>(SendMessageA(item(dlg, IDC_SECTION_BAR), PBM_GETPOS, 0, 0));
  watch->section_max =
      static_cast<std::uint32_t>(SendMessageA(item(dlg, IDC_SECTION_BAR), PBM_GETRANGE, FALSE, 0));
  watch->total_pos =
      static_cast<std::uint32_t>(SendMessageA(item(dlg, IDC_TOTAL_BAR), PBM_GETPOS, 0, 0));
  watch->total_max =
      static_cast<std::uint32_t>(SendMessageA(item(dlg, IDC_TOTAL_BAR), PBM_GETRANGE, FALSE, 0));
  watch->section_shown = visible(dlg, IDC_SECTION_BAR);
  watch->total_shown = visible(dlg, IDC_TOTAL_BAR);
  watch->map_shown = visible(dlg, IDC_FLASH_MAP);
  HWND map = item(dlg, IDC_FLASH_MAP);
  RECT client;
  GetClientRect(map, &client);
  const float cw = static_cast<float>(client.right) * 0.0625f;
  const float ch = static_cast<float>(client.bottom) * 0.03125f;
  // The map is rendered into a bitmap of our own rather than read off the screen: a window
  // not yet mapped by the X server, or covered by another, reads back as CLR_INVALID.
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
  SendMessageA(map, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  for (int cell = 0; cell < 512; ++cell) {
    const int r = cell / 16, c = cell % 16;
    const int left = static_cast<int>(static_cast<float>(c) * cw);
    const int right = static_cast<int>(static_cast<float>(c + 1) * cw);
    const int top = static_cast<int>(static_cast<float>(r) * ch);
    const int bottom = static_cast<int>(static_cast<float>(r + 1) * ch);
    watch->cell_colours.push_back(GetPixel(dc, (left + right) / 2, (top + bottom) / 2));
  }
  SelectObject(dc, old_bitmap);
  DeleteObject(bitmap);
  DeleteDC(dc);
  watch->snapshot_taken = true;
}

LRESULT CALLBACK watch_sent(int code, WPARAM wparam, LPARAM lparam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && message->message == WM_SETTEXT && message->lParam != 0 &&
      watch != nullptr) {
    const std::string text = reinterpret_cast<const char*>(message->lParam);
    const ui::Window target = reinterpret_cast<ui::Window>(message->hwnd);
    const ui::Window parent = reinterpret_cast<ui::Window>(GetParent(message->hwnd));
    std::lock_guard lock(watch->mutex);
    if (ui::template_of(target) == IDD_DETECTION) watch->captions.push_back(text);
    if (ui::template_of(parent) == IDD_DOWNLOAD && GetDlgCtrlID(message->hwnd) == IDC_STAGE_TEXT) {
      // A stage set again to the same text looks unchanged.
      if (watch->stages.empty() || watch->stages.back() != text) watch->stages.push_back(text);
      if (text.rfind("Finalizing Download", 0) == 0) take_snapshot(parent);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(GuiTest, BootloaderDownloadWithVerifyIntoTheSimulatedModule) {
  std::mt19937 rng(11);
  const auto first = random_bytes(rng, 0x900);
  const auto second = random_bytes(rng, 0x300);
  const std::string image = (dir_.path() / "eboot.bin").string();
  test::write_file(image,
                   make_image(0x80000000, 0x2000, {{0x80000000, first}, {0x80001800, second}}));
  const std::string flash = (dir_.path() / "j3.flash").string();
  std::string error;
  auto session = attach_target("sim:pxa270-j3x16,flash=" + flash, error);
  ASSERT_NE(session, nullptr) << error;

  Watch seen;
  watch = &seen;
  {
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);
    ThreadHook hook(watch_sent, program.ui_thread());
    ASSERT_TRUE(hook);
    choose_bootloader(main, image);
    EXPECT_EQ(text_of(main, IDC_BOOT_TYPE), "WinCE");
    EXPECT_EQ(text_of(main, IDC_BOOT_START), "0x80000000");
    ASSERT_TRUE(enabled(main, IDC_BOOT_DOWNLOAD));
    click(main, IDC_VERIFY);
    EXPECT_TRUE(checked(main, IDC_VERIFY));
    click_later(main, IDC_BOOT_DOWNLOAD);
    ui::Window download = win32::wait_for_dialog(IDD_DOWNLOAD, wait_ms);
    ASSERT_NE(download, ui::no_window);
    EXPECT_TRUE(win32::wait_closed(download, 120000));
    // The job has ended once the main window answers again.
    SendMessageA(hwnd(main), WM_NULL, 0, 0);
    EXPECT_EQ(last_job_result(), 1);
    hook.reset();
    EXPECT_EQ(combo_items(main, IDC_BOOT_FILE).at(0), image);
    EXPECT_EQ(program.close(), 1);
  }
  watch = nullptr;
  session.reset();

  EXPECT_EQ(seen.captions, std::vector<std::string>{"Device Detection (JTag Interface)"});
  const std::vector<std::string> stages = {
      "Initializing Interface...", "Erasing Flash...",
      "Total Download:", "Finalizing Download (please wait)..."};
  EXPECT_EQ(seen.stages, stages);
  ASSERT_TRUE(seen.snapshot_taken);
  EXPECT_TRUE(seen.total_shown);
  EXPECT_TRUE(seen.section_shown);
  EXPECT_TRUE(seen.map_shown);
  EXPECT_GT(seen.total_max, 0u);
  EXPECT_EQ(seen.total_pos, seen.total_max);
  EXPECT_GT(seen.section_max, 0u);
  EXPECT_EQ(seen.section_pos, seen.section_max);
  // 64 KiB in 512 cells of 128 bytes: the records cover cells 0-17 and 48-53.
  ASSERT_EQ(seen.cell_colours.size(), 512u);
  const COLORREF background = seen.cell_colours[30];
  for (int cell = 0; cell < 512; ++cell) {
    const bool in_image = cell < 18 || (cell >= 48 && cell < 54);
    if (in_image)
      EXPECT_EQ(seen.cell_colours[static_cast<std::size_t>(cell)], 0x0000D4CAu) << cell;
    else
      EXPECT_EQ(seen.cell_colours[static_cast<std::size_t>(cell)], background) << cell;
  }
  EXPECT_NE(background, 0x0000D4CAu);
  EXPECT_EQ(test::read_bytes(flash, 0, first.size()), first);
  EXPECT_EQ(test::read_bytes(flash, 0x1800, second.size()), second);
  EXPECT_EQ(test::read_bytes(flash, 0x900, 0x10), std::vector<std::uint8_t>(0x10, 0xFF));
}

TEST_F(GuiTest, AFaultyImageIsRefusedWithAnErrorBoxBeforeDetection) {
  const std::string image = (dir_.path() / "broken.bin").string();
  test::write_file(
      image, make_image(0x80000000, 0x100, {{0x80001000, std::vector<std::uint8_t>(0x10, 0xAB)}}));
  Watch seen;
  watch = &seen;
  Program program;
  const ui::Window main = program.main();
  ASSERT_NE(main, ui::no_window);
  ThreadHook hook(watch_sent, program.ui_thread());
  choose_bootloader(main, image);
  ASSERT_TRUE(enabled(main, IDC_BOOT_DOWNLOAD));
  click_later(main, IDC_BOOT_DOWNLOAD);
  const Box box = wait_for_message_box(program.ui_thread());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, "Error");
  EXPECT_EQ(box.text, "Image Record at 0x80001000 (Length 0x00000010) Lies Outside the Image\r\n");
  EXPECT_EQ(box.icon, LoadIconA(nullptr, IDI_HAND));
  EXPECT_EQ(GetWindow(box.window, GW_OWNER), nullptr) << "shown without owner";
  PostMessageA(box.window, WM_COMMAND, IDOK, 0);
  SendMessageA(hwnd(main), WM_NULL, 0, 0);
  wait_until([&] { return !IsWindow(box.window); });
  SendMessageA(hwnd(main), WM_NULL, 0, 0);
  EXPECT_FALSE(IsWindow(box.window));
  EXPECT_EQ(last_job_result(), 0);
  hook.reset();
  EXPECT_EQ(program.close(), 1);
  watch = nullptr;
  EXPECT_TRUE(seen.captions.empty()) << "no detection for a refused image";
}

// ./dev screenshots: every window as a person sees it. The test names each picture and the
// window's place on the screen in a request file; the script outside Wine takes the picture and
// removes the file. Skipped unless DZ_SCREENSHOTS names the folder for the requests.
const char* shot_folder = nullptr;

void screenshot(const std::string& name, ui::Window window) {
  RECT r;
  GetWindowRect(hwnd(window), &r);
  const std::string request = std::string(shot_folder) + "/request";
  const std::string part = request + ".part";
  {
    std::ofstream out(part, std::ios::binary);
    out << name << " " << (r.right - r.left) << "x" << (r.bottom - r.top) << "+" << r.left << "+"
        << r.top << " " << (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : ":0") << "\n";
  }
  std::filesystem::rename(part, request);
  wait_until([&] { return !std::filesystem::exists(request); }, 60000);
}

// Shows a window a moment before its picture is taken, so that it is fully painted.
void settle() {
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
}

std::atomic<bool> download_shot_taken{false};
LRESULT CALLBACK shoot_half_map(int code, WPARAM wparam, LPARAM lparam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && message->message == PBM_SETPOS &&
      GetDlgCtrlID(message->hwnd) == IDC_TOTAL_BAR && !download_shot_taken) {
    const ui::Window dlg = reinterpret_cast<ui::Window>(GetParent(message->hwnd));
    const auto max = static_cast<WPARAM>(SendMessageA(message->hwnd, PBM_GETRANGE, FALSE, 0));
    if (ui::template_of(dlg) == IDD_DOWNLOAD && max > 0 && message->wParam * 2 >= max) {
      download_shot_taken = true;
      UpdateWindow(hwnd(dlg));
      screenshot("download", dlg);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

TEST_F(GuiTest, Screenshots) {
  shot_folder = std::getenv("DZ_SCREENSHOTS");
  if (shot_folder == nullptr) GTEST_SKIP() << "DZ_SCREENSHOTS is not set";
  std::mt19937 rng(5);
  const std::string boot = (dir_.path() / "eboot.bin").string();
  test::write_file(boot, make_image(0x80000000, 0x10000,
                                    {{0x80000000, random_bytes(rng, 0x9000)},
                                     {0x8000A000, random_bytes(rng, 0x6000)}}));
  reg_set_string("Bootloader0", boot);
  reg_set_string("Image0", "C:\\images\\nk.bin");
  {
    // Detection: a module that does not answer yet.
    std::string error;
    auto session = attach_target("sim:pxa270-j3x16,late=1000000", error);
    ASSERT_NE(session, nullptr) << error;
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);
    settle();
    screenshot("main-window", main);
    click_later(main, IDC_BOOT_DOWNLOAD);
    ui::Window detection = win32::wait_for_dialog(IDD_DETECTION, wait_ms);
    ASSERT_NE(detection, ui::no_window);
    settle();
    screenshot("detection", detection);
    finish(detection, IDCANCEL);

    const std::pair<int, int> dialogs[] = {{IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS},
                                           {IDC_IMAGE_OPTIONS, IDD_IMAGE_OPTIONS},
                                           {IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS}};
    const char* names[] = {"bootloader-options", "image-options", "jtag-settings"};
    for (std::size_t i = 0; i < 3; ++i) {
      ui::Window dlg = open_by_click(main, dialogs[i].first, dialogs[i].second);
      ASSERT_NE(dlg, ui::no_window);
      settle();
      screenshot(names[i], dlg);
      finish(dlg, IDCANCEL);
    }
    click(main, IDC_IMAGE_SERIAL);
    ui::Window serial = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_SERIAL_SETTINGS);
    ASSERT_NE(serial, ui::no_window);
    settle();
    screenshot("serial-settings", serial);
    finish(serial, IDCANCEL);
    click(main, IDC_IMAGE_ETHERNET);
    ui::Window ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
    ASSERT_NE(ethernet, ui::no_window);
    settle();
    screenshot("ethernet-settings", ethernet);
    finish(ethernet, IDCANCEL);
    PostMessageA(hwnd(main), WM_COMMAND, MAKEWPARAM(ID_HELP_ABOUT, 0), 0);
    ui::Window about = win32::wait_for_dialog(IDD_ABOUT, wait_ms);
    ASSERT_NE(about, ui::no_window);
    settle();
    screenshot("about", about);
    finish(about, IDOK);
    EXPECT_EQ(program.close(), 1);
  }
  // The Download window halfway through a verified bootloader download.
  std::string error;
  auto session = attach_target("sim:pxa270-j3x16", error);
  ASSERT_NE(session, nullptr) << error;
  Program program;
  const ui::Window main = program.main();
  ASSERT_NE(main, ui::no_window);
  ThreadHook hook(shoot_half_map, program.ui_thread());
  click(main, IDC_VERIFY);
  click_later(main, IDC_BOOT_DOWNLOAD);
  ui::Window download = win32::wait_for_dialog(IDD_DOWNLOAD, wait_ms);
  ASSERT_NE(download, ui::no_window);
  EXPECT_TRUE(win32::wait_closed(download, 240000));
  hook.reset();
  EXPECT_TRUE(download_shot_taken);
  EXPECT_EQ(program.close(), 1);
}

}  // namespace
}  // namespace dz::testing
