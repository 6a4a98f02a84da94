// A bootloader download by the Windows program over OpenOCD's remote_bitbang protocol (its TCP
// client on Windows Sockets) into the native dividezurirer-sim serving a simulated module with
// StrataFlash, verified; the module's flash file is compared after the server has stopped.
// cmake/wine-with-peer.sh starts the server and passes its port as DZ_PEER_PORT; DZ_FLASH_FILE
// names the server's --flash file.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "platform/net.h"
#include "platform/tcp.h"
#include "tests/gui_win32/gui_driver.h"
#include "tests/image/image_builder.h"

namespace dz::testing {
namespace {

// Asks the server to quit ('Q') and waits until it refuses connections: by then it has written
// its flash file.
bool stop_server(std::uint16_t port) {
  std::string error;
  {
    tcp::Stream s = tcp::connect("127.0.0.1", port, error);
    if (!s) return false;
    const std::uint8_t quit = 'Q';
    if (!s.write_all(&quit, 1)) return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    tcp::Stream probe = tcp::connect("127.0.0.1", port, error);
    if (!probe) return true;
    probe.close();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

class JtagRemoteGui : public GuiTest {};

TEST_F(JtagRemoteGui, BootloaderDownloadWithVerifyIntoTheNativeSimulator) {
  const char* port_text = std::getenv("DZ_PEER_PORT");
  const char* flash = std::getenv("DZ_FLASH_FILE");
  if (port_text == nullptr || flash == nullptr)
    GTEST_SKIP() << "run by cmake/wine-with-peer.sh beside dividezurirer-sim";
  const auto port = static_cast<std::uint16_t>(std::atoi(port_text));
  ASSERT_NE(port, 0);

  // Fresh bytes every run, so that a flash file left by an earlier run cannot pass for this one.
  std::mt19937 rng(std::random_device{}());
  const auto first = random_bytes(rng, 0x600);
  const auto second = random_bytes(rng, 0x200);
  const std::string image = (dir_.path() / "eboot.bin").string();
  test::write_file(image,
                   make_image(0x80000000, 0x2000, {{0x80000000, first}, {0x80001800, second}}));
  // The port setting has no field in the dialogs: it is set in the registry, as a user would.
  const std::string remote = "remote:127.0.0.1:" + std::to_string(port);
  reg_set_string("ParallelPort", remote);

  {
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);
    ASSERT_NO_FATAL_FAILURE(choose_belvona_cable(main));
    choose_bootloader(main, image);
    EXPECT_EQ(text_of(main, IDC_BOOT_TYPE), "WinCE");
    ASSERT_TRUE(enabled(main, IDC_BOOT_DOWNLOAD));
    click(main, IDC_VERIFY);
    click_later(main, IDC_BOOT_DOWNLOAD);
    const ui::Window download = win32::wait_for_dialog(IDD_DOWNLOAD, 60000);
    ASSERT_NE(download, ui::no_window) << "no processor found over " << remote;
    EXPECT_TRUE(win32::wait_closed(download, 240000));
    SendMessageA(hwnd(main), WM_NULL, 0, 0);
    EXPECT_EQ(last_job_result(), 1);
    EXPECT_EQ(program.close(), 1);
  }
  // The setting read at the start is kept as it was.
  EXPECT_EQ(reg_string(key_path, "ParallelPort"), remote);

  ASSERT_TRUE(net::startup());
  ASSERT_TRUE(stop_server(port));
  net::cleanup();
  EXPECT_EQ(test::read_bytes(flash, 0, first.size()), first);
  EXPECT_EQ(test::read_bytes(flash, 0x1800, second.size()), second);
  // Between the records the erased block stays erased.
  EXPECT_EQ(test::read_bytes(flash, first.size(), 0x1800 - first.size()),
            std::vector<std::uint8_t>(0x1800 - first.size(), 0xFF));
}

}  // namespace
}  // namespace dz::testing
