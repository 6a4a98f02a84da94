// Serial downloads through the Windows program's real dialogs under Wine, into the simulated
// serial bootloader: a native dividezurirer-sim whose pseudo-terminal is mapped into the Wine
// prefix as COM10 (cmake/wine-with-peer.sh). The module checks the image byte for byte and says
// so on its console, which the Download window echoes.
#include <windows.h>
// After <windows.h>:
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "tests/gui_win32/gui_driver.h"
#include "tests/image/image_builder.h"

namespace dz::testing {
namespace {

constexpr const char* module_port = "COM10";

// A Linux path as the Windows program names it (Wine maps the Linux root as drive Z:).
std::string dos_path(std::string unix_path) {
  std::replace(unix_path.begin(), unix_path.end(), '/', '\\');
  return "Z:" + unix_path;
}

// The image the module expects (ctest: DZ_SERIAL_IMAGE, written by SerialGuiImage.Write).
std::string image_path() {
  const char* path = std::getenv("DZ_SERIAL_IMAGE");
  return path ? dos_path(path) : std::string();
}

// The COM ports mapped in the Wine prefix: its dosdevices folder's comN links, listed as files
// (a path ending in "com2" would name the device COM2 itself).
std::vector<int> mapped_ports() {
  std::vector<int> ports;
  const char* prefix = std::getenv("WINEPREFIX");
  if (prefix == nullptr) return ports;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((dos_path(prefix) + "\\dosdevices\\com*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return ports;
  do {
    const std::string name = entry.cFileName;
    if (name.size() > 3 && name.find_first_not_of("0123456789", 3) == std::string::npos)
      ports.push_back(std::stoi(name.substr(3)));
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return ports;
}
bool mapped(int n) {
  const std::vector<int> ports = mapped_ports();
  return std::find(ports.begin(), ports.end(), n) != ports.end();
}

// A Windows CE image of about 150 KB in three records.
std::vector<std::uint8_t> module_image() {
  std::mt19937 rng(14);
  return make_image(0x80000000, 0x30000,
                    {{0x80000000, random_bytes(rng, 0x10000)},
                     {0x80012000, random_bytes(rng, 0x14321)},
                     {0x8002A000, random_bytes(rng, 0x5000)}});
}

// Run first (ctest fixture): the peer reads the file when it starts.
TEST(SerialGuiImage, Write) {
  const std::string path = image_path();
  ASSERT_FALSE(path.empty()) << "DZ_SERIAL_IMAGE is not set";
  test::write_file(path, module_image());
  ASSERT_EQ(std::filesystem::file_size(path), module_image().size());
}

// What the user interface thread's windows are told: the Download window's console echo, its
// stage texts and the detection window's caption.
struct Seen {
  std::mutex mutex;
  std::string echo;
  std::vector<std::string> stages;
  std::vector<std::string> captions;
};
Seen* seen = nullptr;

LRESULT CALLBACK watch_sent(int code, WPARAM wparam, LPARAM lparam) {
  const auto* message = reinterpret_cast<const CWPSTRUCT*>(lparam);
  if (code == HC_ACTION && seen != nullptr && message->lParam != 0 &&
      (message->message == EM_REPLACESEL || message->message == WM_SETTEXT)) {
    const std::string text = reinterpret_cast<const char*>(message->lParam);
    const ui::Window target = reinterpret_cast<ui::Window>(message->hwnd);
    const ui::Window parent = reinterpret_cast<ui::Window>(GetParent(message->hwnd));
    const int id = GetDlgCtrlID(message->hwnd);
    std::lock_guard lock(seen->mutex);
    if (message->message == EM_REPLACESEL) {
      if (ui::template_of(parent) == IDD_DOWNLOAD && id == IDC_MONITOR_OUTPUT) seen->echo += text;
    } else if (ui::template_of(target) == IDD_DETECTION) {
      seen->captions.push_back(text);
    } else if (ui::template_of(parent) == IDD_DOWNLOAD && id == IDC_STAGE_TEXT) {
      if (seen->stages.empty() || seen->stages.back() != text) seen->stages.push_back(text);
    }
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

// Waits for a message box, answers it with OK and returns its caption and text.
std::pair<std::string, std::string> answer_box() {
  const Box box = wait_for_message_box();
  if (box.window == nullptr) return {"(no message box)", ""};
  PostMessageA(box.window, WM_COMMAND, IDOK, 0);
  wait_until([&] { return !IsWindow(box.window); });
  return {box.caption, box.text};
}

// Puts the image into the image half and presses "Download Image...".
void start_image_download(ui::Window main, const std::string& image) {
  type(main, IDC_IMAGE_FILE, image);
  notify(main, IDC_IMAGE_FILE, CBN_EDITCHANGE);
  EXPECT_EQ(text_of(main, IDC_IMAGE_TYPE), "WinCE");
  ASSERT_TRUE(enabled(main, IDC_IMAGE_DOWNLOAD));
  click_later(main, IDC_IMAGE_DOWNLOAD);
}

class SerialGui : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    ASSERT_NE(std::getenv("DZ_PEER_SERIAL"), nullptr)
        << "runs beside dividezurirer-sim (cmake/wine-with-peer.sh)";
    image_ = image_path();
    ASSERT_TRUE(std::filesystem::exists(image_)) << image_;
    seen = &seen_;
  }
  void TearDown() override {
    seen = nullptr;
    GuiTest::TearDown();
  }

  std::string echo() {
    std::lock_guard lock(seen_.mutex);
    return seen_.echo;
  }

  std::string image_;
  Seen seen_;
};

const std::string banner_start = "\r\nSimulated PXA270 module - serial bootloader 1.0\r\n";

// The settings dialog offers the mapped ports (COM10 among them, sorted), the user picks COM10,
// and two downloads in a row reach the module whole, its console echoed in the Download window.
TEST_F(SerialGui, DownloadsThroughTheDialogsReachTheModuleByteForByte) {
  const std::size_t size = module_image().size();
  {
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);
    ThreadHook hook(watch_sent, program.ui_thread());
    ASSERT_TRUE(hook);
    click(main, IDC_IMAGE_SERIAL);
    ui::Window serial = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_SERIAL_SETTINGS);
    ASSERT_NE(serial, ui::no_window);
    const std::vector<std::string> ports = combo_items(serial, IDC_COM_PORT);
    std::vector<std::string> expected;
    for (int n = 1; n <= 10; ++n) {
      if (mapped(n)) expected.push_back("COM" + std::to_string(n));
    }
    std::sort(expected.begin(), expected.end());  // "COM10" before "COM2", as the list sorts
    EXPECT_EQ(ports, expected);
    EXPECT_NE(std::find(ports.begin(), ports.end(), module_port), ports.end());
    // Nothing chosen yet: the default "COM1" is selected only when it is listed.
    const int selected =
        static_cast<int>(SendMessageA(item(serial, IDC_COM_PORT), CB_GETCURSEL, 0, 0));
    if (mapped(1))
      EXPECT_EQ(combo_items(serial, IDC_COM_PORT).at(static_cast<std::size_t>(selected)), "COM1");
    else
      EXPECT_EQ(selected, CB_ERR);
    const auto index = std::find(ports.begin(), ports.end(), module_port) - ports.begin();
    SendMessageA(item(serial, IDC_COM_PORT), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    notify(serial, IDC_COM_PORT, CBN_SELCHANGE);
    finish(serial, IDOK);

    for (int round = 0; round < 2; ++round) {
      {
        std::lock_guard lock(seen_.mutex);
        seen_.echo.clear();
      }
      start_image_download(main, image_);
      ui::Window download = win32::wait_for_dialog(IDD_DOWNLOAD, wait_ms);
      ASSERT_NE(download, ui::no_window) << "round " << round;
      EXPECT_TRUE(win32::wait_closed(download, 120000));
      SendMessageA(hwnd(main), WM_NULL, 0, 0);
      EXPECT_EQ(last_job_result(), 1) << "round " << round;
      const std::string out = echo();
      // The banner printed before the ready sequence comes first, the sequence never, and the
      // module's verdict on the received bytes last.
      EXPECT_TRUE(out.starts_with(banner_start)) << out;
      EXPECT_EQ(out.find('\xAA'), std::string::npos);
      EXPECT_TRUE(out.ends_with("Image received: " + std::to_string(size) + " bytes, OK\r\n"))
          << "round " << round << ": " << out;
    }
    hook.reset();
    EXPECT_EQ(program.close(), 1);
  }
  EXPECT_EQ(seen_.captions, std::vector<std::string>(2, "Device Detection (Serial Interface)"));
  const std::vector<std::string> stages = {
      "Initializing Interface...", "Erasing Flash...",
      "Total Download:", "Finalizing Download (please wait)..."};
  EXPECT_EQ(seen_.stages.size(), 2 * stages.size());
  EXPECT_TRUE(std::equal(stages.begin(), stages.end(), seen_.stages.begin()));
  EXPECT_EQ(reg_string(key_path, "ComPort"), module_port);
}

// The module's line goes dead after 70000 bytes (the adapter is pulled): the job ends with the
// write error, and the program goes on: the port is no longer offered, and a new download says
// that it cannot be opened.
TEST_F(SerialGui, PortVanishingMidTransferEndsTheJobAndTheProgramGoesOn) {
  reg_set_string("ComPort", module_port);
  Program program;
  const ui::Window main = program.main();
  ASSERT_NE(main, ui::no_window);
  ThreadHook hook(watch_sent, program.ui_thread());
  ASSERT_TRUE(hook);
  click(main, IDC_IMAGE_SERIAL);
  start_image_download(main, image_);
  ui::Window download = win32::wait_for_dialog(IDD_DOWNLOAD, wait_ms);
  ASSERT_NE(download, ui::no_window);
  EXPECT_EQ(answer_box(),
            (std::pair<std::string, std::string>{"Error", "Cannot Write to Serial Port\r\n"}));
  EXPECT_TRUE(win32::wait_closed(download, wait_ms));
  SendMessageA(hwnd(main), WM_NULL, 0, 0);
  EXPECT_EQ(last_job_result(), 0);
  EXPECT_TRUE(echo().starts_with(banner_start)) << echo();
  EXPECT_EQ(echo().find("Image received"), std::string::npos);

  // The unplugged port disappears from the list (the peer takes its mapping away).
  wait_until([] { return !mapped(10); }, 10000);
  ASSERT_FALSE(mapped(10));
  ui::Window serial = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_SERIAL_SETTINGS);
  ASSERT_NE(serial, ui::no_window);
  const std::vector<std::string> ports = combo_items(serial, IDC_COM_PORT);
  EXPECT_EQ(std::find(ports.begin(), ports.end(), module_port), ports.end());
  EXPECT_EQ(SendMessageA(item(serial, IDC_COM_PORT), CB_GETCURSEL, 0, 0), CB_ERR);
  finish(serial, IDCANCEL);

  // Another try stops at detection.
  start_image_download(main, image_);
  EXPECT_EQ(answer_box(),
            (std::pair<std::string, std::string>{"Error", "Cannot Open Serial Port"}));
  SendMessageA(hwnd(main), WM_NULL, 0, 0);
  EXPECT_EQ(last_job_result(), 0);
  hook.reset();
  EXPECT_EQ(program.close(), 1);
  EXPECT_EQ(seen_.stages.size(), 4u) << "the second try opened no Download window";
  EXPECT_EQ(reg_string(key_path, "ComPort"), module_port);
}

// The module stops taking data mid-transfer; Abort ends the job at once, as aborted (no error),
// although the write in progress cannot finish.
TEST_F(SerialGui, AbortWhileTheModuleStallsEndsTheJobQuietly) {
  reg_set_string("ComPort", module_port);
  Program program;
  const ui::Window main = program.main();
  ASSERT_NE(main, ui::no_window);
  ThreadHook hook(watch_sent, program.ui_thread());
  ASSERT_TRUE(hook);
  click(main, IDC_IMAGE_SERIAL);
  start_image_download(main, image_);
  ui::Window download = win32::wait_for_dialog(IDD_DOWNLOAD, wait_ms);
  ASSERT_NE(download, ui::no_window);
  wait_until([&] { return echo().find("Flash busy") != std::string::npos; });
  ASSERT_NE(echo().find("Flash busy at "), std::string::npos) << echo();
  click_later(download, IDCANCEL);  // "Abort"
  EXPECT_TRUE(win32::wait_closed(download, wait_ms));
  SendMessageA(hwnd(main), WM_NULL, 0, 0);
  EXPECT_EQ(last_job_result(), 1);
  Box box;
  EnumWindows(find_message_box, reinterpret_cast<LPARAM>(&box));
  EXPECT_EQ(box.window, nullptr) << "an abort is not an error";
  EXPECT_EQ(echo().find("Image received"), std::string::npos);
  hook.reset();
  EXPECT_EQ(program.close(), 1);
}

}  // namespace
}  // namespace dz::testing
