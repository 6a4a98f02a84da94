// JTAG detection in the Device Detection dialog: retries until the processor answers, and Abort
// while it never does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/detection_dialog.h"
#include "platform/port_io.h"
#include "platform/thread.h"
#include "resources/resource.h"
#include "tests/flash/flash_fixture.h"

namespace dz::testing {
namespace {

// A cable whose far end stays silent (every status read 0xFF, so the identification word reads
// 0) until the port has been opened `answer_at` times, as when the module is powered up late.
class LateCable final : public port_io::Backend {
 public:
  LateCable(port_io::Backend& module_port, int answer_at)
      : module_port_(module_port), answer_at_(answer_at) {}
  void write(std::uint16_t address, std::uint8_t value) override {
    module_port_.write(address, value);
  }
  std::uint8_t read(std::uint16_t address) override {
    return opens_.load() >= answer_at_ ? module_port_.read(address) : 0xFF;
  }
  void flush() override { module_port_.flush(); }
  void opened(std::uint16_t base, std::uint32_t kind) override {
    ++opens_;
    module_port_.opened(base, kind);
  }
  int opens() const { return opens_.load(); }

 private:
  port_io::Backend& module_port_;
  int answer_at_;
  std::atomic<int> opens_{0};
};

class JtagDetect : public FlashJobTest {
 protected:
  LateCable& use_late_cable(int answer_at) {
    auto& module = use_module("pxa270-j3x16");
    cable_ = std::make_unique<LateCable>(module.port(), answer_at);
    port_io::set_simulated_port(cable_.get());
    return *cable_;
  }
  void TearDown() override {
    port_io::set_simulated_port(nullptr);
    FlashJobTest::TearDown();
    cable_.reset();
  }
  std::unique_ptr<LateCable> cable_;
};

TEST_F(JtagDetect, RetriesUntilTheProcessorAnswersWithoutAnyMessage) {
  LateCable& cable = use_late_cable(4);
  EXPECT_EQ(run_detection_dialog(ui::no_window, jtag_interface_index), 1);
  // One open at the start and one per failed identification.
  EXPECT_EQ(cable.opens(), 4);
  EXPECT_NE(target_description().find("PXA270"), std::string::npos);
  EXPECT_TRUE(boxes().empty());
  EXPECT_TRUE(port_io::acquired());  // the adapter stays open for the download
  jtag_close_cable();
}

TEST_F(JtagDetect, AbortWhileTheProcessorNeverAnswersClosesTheAdapter) {
  LateCable& cable = use_late_cable(1 << 30);
  std::atomic<bool> pressed{false};
  auto user = threads::Thread::start([&] {
    const ui::Window dlg = ui::headless::wait_for_dialog(IDD_DETECTION, 5000);
    if (dlg == ui::no_window) return;
    // Let a few identification rounds fail first.
    while (cable.opens() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ui::send_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
    pressed = true;
  });
  EXPECT_EQ(run_detection_dialog(ui::no_window, jtag_interface_index), 0);
  user.join();
  EXPECT_TRUE(pressed);
  // The detect routine sees the stop flag after its current round and closes the adapter.
  for (int i = 0; i < 2000 && port_io::acquired(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(port_io::acquired());
  EXPECT_TRUE(boxes().empty());
}

}  // namespace
}  // namespace dz::testing
