// JTAG detection in the Device Detection dialog: a module switched on while detection runs is
// found on every cable, whenever in the scans its power comes; Abort while it never answers; a
// download through the Wiggler leaves the module out of reset.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "download/detection_dialog.h"
#include "platform/port_io.h"
#include "platform/thread.h"
#include "resources/resource.h"
#include "tests/flash/flash_fixture.h"

namespace dz::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Presses Abort in the Device Detection dialog once `virtual_ms` of virtual time have passed
// without the dialog ending, so that a detection that never finds the module fails instead of
// running forever. Without `dialog`, for detect calls made without it, sets the stop flag (the
// button's effect) instead.
class AbortAfter {
 public:
  explicit AbortAfter(std::uint32_t virtual_ms, bool dialog = true) {
    const std::uint64_t limit = clock::now_us() + std::uint64_t{virtual_ms} * 1000;
    user_ = threads::Thread::start([this, limit, dialog] {
      ui::Window dlg = ui::no_window;
      for (; !done_.load(); std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        if (dialog) {
          const ui::Window open = ui::headless::find_dialog(IDD_DETECTION);
          if (dlg == ui::no_window) dlg = open;
          if (dlg == ui::no_window) continue;
          if (open != dlg) return;  // the dialog has ended
        }
        if (clock::now_us() >= limit) {
          if (dialog)
            ui::send_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
          else
            stop_flag = 1;
          pressed_ = true;
          return;
        }
      }
    });
  }
  ~AbortAfter() { join(); }
  void join() {
    done_ = true;
    user_.join();
  }
  bool pressed() const { return pressed_.load(); }

 private:
  std::atomic<bool> done_{false};
  std::atomic<bool> pressed_{false};
  threads::Thread user_;
};

class JtagDetect : public FlashJobTest {};

class JtagDetectOnCable : public JtagDetect, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(JtagDetectOnCable, ModuleSwitchedOnLateIsFoundWithoutAnyMessage) {
  jtag_interface = GetParam();
  auto& module = use_module("pxa270-j3x16");
  module.port().switch_on_late(3);  // no clocks while the port is opened the first three times
  AbortAfter user(10000);
  EXPECT_EQ(run_detection_dialog(ui::no_window, jtag_interface_index), 1);
  user.join();
  EXPECT_FALSE(user.pressed());
  // The module is switched on as the fourth open begins; that round finds it.
  EXPECT_EQ(module.port().opens(), 4u);
  EXPECT_TRUE(module.cpu().powered());
  EXPECT_THAT(target_description(), HasSubstr("PXA270"));
  EXPECT_TRUE(boxes().empty());
  EXPECT_TRUE(port_io::acquired());  // the adapter stays open for the download
  jtag_close_cable();
}

INSTANTIATE_TEST_SUITE_P(AllCables, JtagDetectOnCable, ::testing::Values(0u, 1u, 2u, 3u));

TEST_F(JtagDetect, PowerComingAtAnyPointOfARoundIsFoundByTheNextRound) {
  // One round is the open's byte, the TAP reset and the 32-bit identification scan, about 90
  // data-register writes on the Belvona cable; power comes at each of them in turn, so the TAP
  // wakes in Test-Logic-Reset while the cable believes it is anywhere in the reset or the scan.
  auto& module = use_module("pxa270-j3x16");
  for (std::uint32_t at = 0; at < 100; ++at) {
    SCOPED_TRACE(at);
    const std::uint32_t opens_before = module.port().opens();
    module.port().switch_on_late(1, at);  // switched off now, on again in the second open
    target_description_clear();
    stop_flag = 0;
    std::uint32_t found = 0;
    {
      AbortAfter abort(5000, false);
      found = jtag_detect(ui::no_window);
    }
    ASSERT_EQ(found, 1u);
    EXPECT_LE(module.port().opens() - opens_before, 3u);
    EXPECT_THAT(target_description(), HasSubstr("PXA270"));
    jtag_close_cable();
  }
  EXPECT_TRUE(boxes().empty());
}

TEST_F(JtagDetect, AbortWhileTheProcessorNeverAnswersClosesTheAdapter) {
  auto& module = use_module("pxa270-j3x16");
  module.port().switch_on_late(1u << 30);
  AbortAfter user(2000);
  EXPECT_EQ(run_detection_dialog(ui::no_window, jtag_interface_index), 0);
  user.join();
  EXPECT_TRUE(user.pressed());
  // The detect routine sees the stop flag after its current round and closes the adapter.
  for (int i = 0; i < 2000 && port_io::acquired(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(port_io::acquired());
  EXPECT_GT(module.port().opens(), 3u);
  EXPECT_TRUE(boxes().empty());
}

TEST_F(JtagDetect, WigglerDownloadToALateModuleLeavesItRunning) {
  jtag_interface = 2;
  auto& module = use_module("pxa270-j3x16");
  module.port().switch_on_late(2);
  std::mt19937 rng(7);
  const std::uint32_t start = 0x80000000, length = 0x900;
  const std::vector<ImageRecord> records = {{start, random_bytes(rng, 0x500)},
                                            {start + 0x600, random_bytes(rng, 0x300)}};
  const auto path = dir_.write("eboot.bin", make_image(start, length, records));
  AbortAfter user(10000);
  EXPECT_EQ(run_image(path), 1);
  user.join();
  EXPECT_THAT(box_texts(), ElementsAre());
  const auto& flash = module.strata_banks()[0]->contents();
  EXPECT_EQ(std::vector<std::uint8_t>(flash.begin(), flash.begin() + length),
            expected_flash(start, length, records));
  // Closed: neither reset line is held, so the module runs its new bootloader.
  EXPECT_FALSE(port_io::acquired());
  EXPECT_EQ(module.port().data_register() & 0x11, 0x10);
  EXPECT_FALSE(module.cpu().srst());
  EXPECT_FALSE(module.cpu().trst());
  EXPECT_FALSE(module.cpu().tap().trst_asserted());
}

}  // namespace
}  // namespace dz::testing
