// Ethernet downloads through the Windows program's real windows, with the simulated Ethernet module
// running as a native Linux process beside Wine (cmake/wine-with-peer.sh): its BOOTME reaches the
// program's listener over loopback, the module shows in the Ethernet dialog and the main window,
// the image goes by TFTP (normal, then FastDownload), the jump is answered and the module keeps
// the file in its store. The peer's ports arrive as DZ_PEER_BOOTME_PORT and DZ_PEER_MODULE_PORT;
// DZ_TEST_STORE names the module's store file.
#include <windows.h>
// After <windows.h>:
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "platform/udp.h"
#include "tests/gui_win32/gui_driver.h"
#include "tests/image/image_builder.h"

namespace dz::testing {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// The module writes its store when a transfer is complete, before it acknowledges the final
// block; the job has ended by the time this is read.
std::vector<std::uint8_t> store_contents() {
  return test::read_bytes(environment("DZ_TEST_STORE"));
}

std::vector<std::string> list_lines(ui::Window dlg, int id) {
  std::vector<std::string> out;
  const int n = static_cast<int>(SendMessageA(item(dlg, id), LB_GETCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    char buffer[300] = {};
    SendMessageA(item(dlg, id), LB_GETTEXT, static_cast<WPARAM>(i),
                 reinterpret_cast<LPARAM>(buffer));
    out.emplace_back(buffer);
  }
  return out;
}

// The captions of the detection window and the message boxes the user interface thread shows.
struct Seen {
  std::mutex mutex;
  std::vector<std::string> captions;
};
Seen* seen = nullptr;

LRESULT CALLBACK watch_sent(int code, WPARAM wparam, LPARAM lparam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && message->message == WM_SETTEXT && message->lParam != 0 &&
      seen != nullptr) {
    const ui::Window target = reinterpret_cast<ui::Window>(message->hwnd);
    if (ui::template_of(target) == IDD_DETECTION) {
      std::lock_guard lock(seen->mutex);
      seen->captions.emplace_back(reinterpret_cast<const char*>(message->lParam));
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Aborts the download once a quarter of the file has gone: the Abort button as the user clicks
// it while the total progress bar moves.
std::atomic<bool> abort_sent{false};
LRESULT CALLBACK abort_at_a_quarter(int code, WPARAM wparam, LPARAM lparam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && message->message == PBM_SETPOS &&
      GetDlgCtrlID(message->hwnd) == IDC_TOTAL_BAR && !abort_sent) {
    const HWND dlg = GetParent(message->hwnd);
    const auto max = static_cast<WPARAM>(SendMessageA(message->hwnd, PBM_GETRANGE, FALSE, 0));
    if (ui::template_of(reinterpret_cast<ui::Window>(dlg)) == IDD_DOWNLOAD && max > 0 &&
        message->wParam * 4 >= max && message->wParam < max) {
      abort_sent = true;
      PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDCANCEL)));
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Downloads the image half's file and waits until the job has ended; false when the download
// window did not come or did not close in time.
bool download_image(const Program& program) {
  const ui::Window main = program.main();
  click_later(main, IDC_IMAGE_DOWNLOAD);
  const ui::Window download = win32::wait_for_dialog(IDD_DOWNLOAD, wait_ms);
  if (download == ui::no_window) return false;
  // An unanswered jump would hold the window for the 200 s the loader waits for the answer.
  if (!win32::wait_closed(download, 60000)) return false;
  SendMessageA(hwnd(main), WM_NULL, 0, 0);
  return true;
}

bool no_message_box(const Program& program) {
  Box box;
  EnumThreadWindows(program.ui_thread(), find_message_box, reinterpret_cast<LPARAM>(&box));
  if (box.window != nullptr)
    ADD_FAILURE() << "message box: " << window_text(GetDlgItem(box.window, 0xFFFF));
  return box.window == nullptr;
}

TEST_F(GuiTest, EthernetDownloadsIntoANativeModuleNormalAndFast) {
  const std::string bootme_port = environment("DZ_PEER_BOOTME_PORT");
  const std::string module_port = environment("DZ_PEER_MODULE_PORT");
  if (bootme_port.empty() || module_port.empty() || environment("DZ_TEST_STORE").empty())
    GTEST_SKIP() << "runs beside a native module (cmake/wine-with-peer.sh)";
  // The loader finds the module where the peer says, as a user's loader finds port 980.
  ASSERT_EQ(_putenv_s("DIVIDEZURIRER_TEST_BOOTME_PORT", bootme_port.c_str()), 0);
  ASSERT_EQ(_putenv_s("DIVIDEZURIRER_TEST_MODULE_PORT", module_port.c_str()), 0);
  // Whatever an earlier run left there must not pass for this run's file.
  std::remove(environment("DZ_TEST_STORE").c_str());

  std::mt19937 rng(14);
  // Not a multiple of the 1024-byte blocks: ends with a short block.
  const std::string first = (dir_.path() / "nk.bin").string();
  test::write_file(first, make_image(0x80100000, 0x60000,
                                     {{0x80100000, random_bytes(rng, 0x30000)},
                                      {0x80140000, random_bytes(rng, 0x12345)}}));
  // FastDownload with a file of its own, so that the store shows the second transfer.
  const std::string second = (dir_.path() / "nk-fast.bin").string();
  test::write_file(second, make_image(0x80100000, 0x80000,
                                      {{0x80100000, random_bytes(rng, 0x48000)},
                                       {0x80170000, random_bytes(rng, 0x777)}}));

  // Listens on the loader's BOOTME port for a while (the program's own listener is not running).
  auto bootme_heard = [&](std::uint32_t ms) {
    udp::Socket listener = udp::Socket::create();
    const auto port = static_cast<std::uint16_t>(std::atoi(bootme_port.c_str()));
    return listener.bind(udp::Address{udp::any_ip, port}) && listener.wait_readable(ms) == 1;
  };

  Seen watched;
  seen = &watched;
  {
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);
    ThreadHook hook(watch_sent, program.ui_thread());
    ASSERT_TRUE(hook);
    ASSERT_TRUE(checked(main, IDC_IMAGE_ETHERNET));

    // The Ethernet dialog's listener hears the module's BOOTME: the module joins the list with
    // its details, and the main window shows it as the current device.
    ui::Window ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
    ASSERT_NE(ethernet, ui::no_window);
    EXPECT_TRUE(wait_until([&] { return text_of(main, IDC_CURRENT_DEVICE) == "WINE-ETH"; }))
        << text_of(main, IDC_CURRENT_DEVICE);
    EXPECT_EQ(combo_items(ethernet, IDC_MODULE_BOX), std::vector<std::string>{"WINE-ETH"});
    EXPECT_EQ(text_of(ethernet, IDC_MODULE_BOX), "WINE-ETH");
    const std::vector<std::string> details = {
        "Device Info is:\t\tvalid",   "Version:\t\t\t2.5",      "MAC address:\t\t02:00:5e:14:00:2a",
        "IP address:\t\t127.0.0.1",   "Platform ID:\t\tPXA27X", "Device Name:\t\tWINE-ETH",
        "CPU ID:\t\t\tSA1100/ARM720", "Bootme version:\t\t2",   "Boot flags:\t\t<none>",
        "Download port:\t\t980",      "Service port:\t\t0"};
    EXPECT_EQ(list_lines(ethernet, IDC_DEVICE_DETAILS), details);
    EXPECT_TRUE(checked(ethernet, IDC_ACCEPT_ALL));
    EXPECT_FALSE(checked(ethernet, IDC_FAST_DOWNLOAD));
    finish(ethernet, IDOK);

    // Normal mode: one block, one acknowledgement.
    type(main, IDC_IMAGE_FILE, first);
    notify(main, IDC_IMAGE_FILE, CBN_EDITCHANGE);
    EXPECT_EQ(text_of(main, IDC_IMAGE_TYPE), "WinCE");
    ASSERT_TRUE(enabled(main, IDC_IMAGE_DOWNLOAD));
    ASSERT_TRUE(download_image(program));
    EXPECT_TRUE(no_message_box(program));
    EXPECT_EQ(last_job_result(), 1);
    EXPECT_TRUE(store_contents() == test::read_bytes(first)) << "store differs from " << first;

    // FastDownload, chosen in the dialog. The module announces again only after it has answered
    // the jump of the first download.
    ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
    ASSERT_NE(ethernet, ui::no_window);
    click(ethernet, IDC_FAST_DOWNLOAD);
    finish(ethernet, IDOK);
    type(main, IDC_IMAGE_FILE, second);
    notify(main, IDC_IMAGE_FILE, CBN_EDITCHANGE);
    ASSERT_TRUE(enabled(main, IDC_IMAGE_DOWNLOAD));
    ASSERT_TRUE(download_image(program));
    EXPECT_TRUE(no_message_box(program));
    EXPECT_EQ(last_job_result(), 1);
    EXPECT_TRUE(store_contents() == test::read_bytes(second)) << "store differs from " << second;

    // Aborted a quarter of the way: the job fails quietly, the module gets no jump and keeps
    // the file it had.
    const std::string third = (dir_.path() / "nk-big.bin").string();
    test::write_file(third,
                     make_image(0x80100000, 0x600000, {{0x80100000, random_bytes(rng, 0x5F0000)}}));
    // The module announces itself after the second jump (and this listener hears it).
    EXPECT_TRUE(bootme_heard(5000));
    type(main, IDC_IMAGE_FILE, third);
    notify(main, IDC_IMAGE_FILE, CBN_EDITCHANGE);
    ASSERT_TRUE(enabled(main, IDC_IMAGE_DOWNLOAD));
    ThreadHook aborter(abort_at_a_quarter, program.ui_thread());
    ASSERT_TRUE(aborter);
    ASSERT_TRUE(download_image(program));
    aborter.reset();
    EXPECT_TRUE(abort_sent);
    EXPECT_TRUE(no_message_box(program));
    EXPECT_EQ(last_job_result(), 0);
    EXPECT_TRUE(store_contents() == test::read_bytes(second))
        << "store changed by the aborted download";
    {
      // A module that got a jump would announce itself again within its 200 ms interval.
      udp::Socket listener = udp::Socket::create();
      ASSERT_TRUE(listener.bind(
          udp::Address{udp::any_ip, static_cast<std::uint16_t>(std::atoi(bootme_port.c_str()))}));
      EXPECT_EQ(listener.wait_readable(1000), 0) << "the aborted download sent the jump";
    }

    hook.reset();
    EXPECT_EQ(program.close(), 1);
  }
  seen = nullptr;
  const std::vector<std::string> captions(3, "Device Detection (Ethernet Interface)");
  EXPECT_EQ(watched.captions, captions);
  const std::string ethernet_key = std::string(key_path) + "\\Ethernet";
  EXPECT_EQ(reg_dword(ethernet_key.c_str(), "FastDL"), 1u);
  EXPECT_EQ(reg_string(ethernet_key.c_str(), "Device0"), "WINE-ETH");
}

}  // namespace
}  // namespace dz::testing
