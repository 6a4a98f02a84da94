// JTAG detection against dividezurirer-sim over remote_bitbang, a real TCP peer: when the remote
// port goes away while detection retries, the user is told once, not on every round.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "download/detection_dialog.h"
#include "platform/port_io.h"
#include "platform/thread.h"
#include "resources/resource.h"
#include "tests/flash/flash_fixture.h"
#include "tests/jtag/sim_server.h"

namespace dz::testing {
namespace {

// The port override is cleared again by the fixture's reset of the cable state.
class JtagDetectRemote : public FlashJobTest {};

TEST_F(JtagDetectRemote, LostRemotePortIsToldOncePerDetection) {
  // A processor of another maker: it answers, but is never one the loader supports, so detection
  // keeps retrying.
  test::SimServer server("--cpu pxa270 --idcode 2926503F");
  ASSERT_NE(server.port(), 0) << server.log();
  port_io::set_port_override("remote:127.0.0.1:" + std::to_string(server.port()));
  jtag_interface = 0;
  std::atomic<bool> pressed{false};
  auto user = threads::Thread::start([&] {
    const ui::Window dlg = ui::headless::wait_for_dialog(IDD_DETECTION, 5000);
    if (dlg == ui::no_window) return;
    server.stop();  // the remote end goes away while detection runs
    for (int i = 0; i < 30000 && boxes().empty(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // About forty more rounds (50 ms each) against the vanished port.
    const std::uint64_t until = clock::now_us() + 2'000'000;
    for (int i = 0; i < 10000 && clock::now_us() < until; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ui::send_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
    pressed = true;
  });
  EXPECT_EQ(run_detection_dialog(ui::no_window, jtag_interface_index), 0);
  user.join();
  EXPECT_TRUE(pressed);
  const auto shown = boxes();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Error Loading GIVEIO.SYS");
  EXPECT_EQ(shown[0].caption, "Error");
  for (int i = 0; i < 2000 && port_io::acquired(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(port_io::acquired());
}

}  // namespace
}  // namespace dz::testing
