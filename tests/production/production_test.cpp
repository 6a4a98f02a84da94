// The production test window run as a technician would, against simulated production rigs: the
// bootloader over JTAG, the image over Ethernet, the module's console logged until its "OK".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/production_test.h"
#include "platform/port_io.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "sim/production_module.h"
#include "sim/targets.h"
#include "state/process_state.h"
#include "tests/image/image_builder.h"
#include "tests/support/host_fixture.h"

namespace dz::testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr std::uint32_t boot_start = 0x80000000;
constexpr std::uint32_t boot_length = 0x1000;
constexpr const char* initial_log = "RSDA1-A001-0-V000001.log";

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProductionRig : public test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    reset_production_test_state();
    old_dir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }

  void TearDown() override {
    reset_production_test_state();
    detach();
    std::filesystem::current_path(old_dir_);
    HostTest::TearDown();
  }

  void attach(const std::string& model, const sim::TargetOptions& options = {}) {
    const sim::TargetModel* m = sim::find_target_model(model);
    ASSERT_NE(m, nullptr);
    std::string error;
    session_ = m->attach(options, error);
    ASSERT_TRUE(session_) << error;
  }

  // The rig is switched off: its flash and store files are written.
  void detach() {
    port_io::release();
    session_.reset();
  }

  std::string transcript() {
    const sim::ProductionConsole* console = sim::production_console(*session_);
    return console ? console->transcript() : std::string();
  }

  // A bootloader and an image in the current folder; the bootloader's bytes as they lie in flash.
  std::vector<std::uint8_t> write_files() {
    std::mt19937 rng(7);
    const std::vector<ImageRecord> boot = {{boot_start, random_bytes(rng, 0x400)},
                                           {boot_start + 0x800, random_bytes(rng, 0x200)}};
    dir_.write("eboot.bin", make_image(boot_start, boot_length, boot));
    dir_.write("nk.bin", make_image(0x80200000, 0x2000,
                                    {{0x80200000, random_bytes(rng, 0x1000)},
                                     {0x80201800, random_bytes(rng, 0x400)}}));
    std::vector<std::uint8_t> flash(boot_length, 0xFF);
    for (const auto& r : boot)
      std::copy(r.data.begin(), r.data.end(), flash.begin() + (r.address - boot_start));
    return flash;
  }

  // Opens the window; `user` acts on it from another thread; then the window is closed.
  void with_window(const std::function<void(ui::Window)>& user) {
    std::thread worker([&] {
      ui::Window dlg = ui::headless::wait_for_dialog(IDD_PRODUCTION_TEST, 5000);
      if (dlg == ui::no_window) {
        ADD_FAILURE() << "the production test window did not open";
        return;
      }
      command(dlg, 0);
      user(dlg);
      command(dlg, ui::IDCANCEL);
    });
    EXPECT_EQ(run_production_test(ui::no_window), 1);
    worker.join();
  }

  static void command(ui::Window dlg, int id) { ui::send_command(dlg, ui::Command{id, 0, 0, {}}); }

  // The result boxes as "caption: text" with their icon.
  std::vector<std::string> results() {
    std::vector<std::string> out;
    for (const auto& box : boxes())
      if (box.caption == "Test Results")
        out.push_back(box.text + ((box.flags & 0xF0) == ui::MB_ICONINFORMATION ? " (information)"
                                  : (box.flags & 0xF0) == ui::MB_ICONERROR     ? " (error)"
                                                                               : " (?)"));
    return out;
  }

  std::unique_ptr<sim::Session> session_;
  std::filesystem::path old_dir_;
};

// A whole production run on a PXA270 rig, twice: the bootloader lands in flash, the image reaches
// the module, and the log holds everything the console printed from the first byte to the "OK".
// The second run with the same fields starts the log afresh.
TEST_F(ProductionRig, FullRunOnStrataFlashLogsTheConsoleUntilOk) {
  const auto flash_expected = write_files();
  attach("production-pxa270",
         {{"flash", dir_.path("module.flash")}, {"store", dir_.path("received.bin")}});
  std::string first_log, first_transcript;
  with_window([&](ui::Window dlg) {
    EXPECT_EQ(test_mode_flag.load(), 1);
    command(dlg, IDC_TEST_START);
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_TEST_START));
    first_log = read_text(initial_log);
    first_transcript = transcript();
    // The technician starts the next run once the module has seen the line close.
    for (int i = 0; i < 400 && sim::production_console(*session_)->line_open(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    command(dlg, IDC_TEST_START);
  });
  EXPECT_THAT(results(), ::testing::ElementsAre("Test Successful (information)",
                                                "Test Successful (information)"));
  EXPECT_EQ(dialogs_opened(IDD_DOWNLOAD), 4);  // two jobs in each run

  EXPECT_EQ(first_log, first_transcript);
  EXPECT_THAT(first_log, StartsWith("\r\nMicrosoft Windows CE Bootloader"));
  EXPECT_THAT(first_log, HasSubstr("Sending BOOTME request [1]"));
  EXPECT_THAT(first_log, HasSubstr("Jumping to image"));
  EXPECT_TRUE(first_log.ends_with("\r\nOK")) << first_log;
  const std::string second_log = read_text(initial_log);
  EXPECT_EQ(second_log, transcript());
  EXPECT_TRUE(second_log.ends_with("\r\nOK"));
  EXPECT_EQ(second_log.find("OK"), second_log.size() - 2);  // nothing of the first run is left

  detach();
  const auto flash = read_bytes(dir_.path("module.flash"));
  ASSERT_GE(flash.size(), boot_length);
  EXPECT_EQ(std::vector<std::uint8_t>(flash.begin(), flash.begin() + boot_length), flash_expected);
  EXPECT_EQ(read_bytes(dir_.path("received.bin")), read_bytes("nk.bin"));
}

// The NAND rig: "Dump Bad Block Table" finds no table in the page, offers to rebuild it from the
// factory marks (Yes) and shows it; nothing is downloaded.
TEST_F(ProductionRig, BadBlockTableDumpOnTheNandRig) {
  attach("production-pxa320", {{"bad", "5:9"}});
  answer_yes_ = true;
  with_window([&](ui::Window dlg) { command(dlg, IDC_TEST_DUMP_BBT); });
  EXPECT_EQ(bad_block_dump_result(), 1);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].caption, "Error in Bad Block Table");
  EXPECT_EQ(boxes()[1].caption, "Bad Block Table");
  EXPECT_EQ(boxes()[1].text, "2 Bad Blocks\r\n0x0005 -> 0x03ff\r\n0x0009 -> 0x03fe\r\n");
  EXPECT_FALSE(opened(IDD_DOWNLOAD));
}

// "OK" with a line break in the same read, or split over two reads, is no answer: the test
// waits its five seconds and fails, and the log still holds what came.
TEST_F(ProductionRig, OkWithLineBreakIsNoAnswer) {
  write_files();
  attach("production-pxa270", {{"ok", "newline"}});
  with_window([&](ui::Window dlg) { command(dlg, IDC_TEST_START); });
  EXPECT_THAT(results(), ::testing::ElementsAre("Test Failed (error)"));
  reset_production_test_state();  // the log thread has let go of the file
  EXPECT_TRUE(read_text(initial_log).ends_with("OK\r\n"));
}

TEST_F(ProductionRig, OkSplitOverTwoReadsIsNoAnswer) {
  write_files();
  attach("production-pxa270", {{"ok", "split"}});
  with_window([&](ui::Window dlg) { command(dlg, IDC_TEST_START); });
  EXPECT_THAT(results(), ::testing::ElementsAre("Test Failed (error)"));
  reset_production_test_state();
  EXPECT_TRUE(read_text(initial_log).ends_with("OK"));
}

// Without eboot.bin, or without nk.bin, nothing starts: no log, no detection.
TEST_F(ProductionRig, MissingFilesStopBeforeAnything) {
  with_window([&](ui::Window dlg) {
    command(dlg, IDC_TEST_START);
    dir_.write("eboot.bin", make_image(boot_start, 0x10, {{boot_start, {1, 2}}}));
    command(dlg, IDC_TEST_START);
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_TEST_START));
  });
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].text, "File eboot.bin not found\n");
  EXPECT_EQ(boxes()[1].text, "File nk.bin not found\n");
  for (const auto& box : boxes()) {
    EXPECT_EQ(box.caption, "File Error");
    EXPECT_EQ(box.flags, ui::MB_ICONERROR);
  }
  EXPECT_FALSE(opened(IDD_DETECTION));
  EXPECT_FALSE(std::filesystem::exists(initial_log));
  EXPECT_EQ(production_test_result(), -1);
}

// A bootloader that cannot be written (every block locked, unlocking refused) fails the first
// job; the image is not sent and the test fails at once.
TEST_F(ProductionRig, FailingFirstJobSkipsTheSecond) {
  write_files();
  attach("production-pxa270", {{"locked", "all"}});
  with_window([&](ui::Window dlg) { command(dlg, IDC_TEST_START); });
  EXPECT_THAT(results(), ::testing::ElementsAre("Test Failed (error)"));
  EXPECT_EQ(dialogs_opened(IDD_DETECTION), 1);  // JTAG only
  EXPECT_THAT(box_texts(), Contains(HasSubstr("is locked, do you want to unlock?")));
}

// Both downloads succeed but the line cannot be opened: no "OK" was received, so the test fails
// (waiting only for the log thread to end would have called it a success).
TEST_F(ProductionRig, NoLineIsNoPass) {
  write_files();
  attach("production-pxa270");
  set_log_port(dir_.path("no-such-port"));
  with_window([&](ui::Window dlg) { command(dlg, IDC_TEST_START); });
  EXPECT_THAT(box_lines(), Contains("ERROR: Cannot open COM port"));
  EXPECT_THAT(results(), ::testing::ElementsAre("Test Failed (error)"));
  EXPECT_EQ(dialogs_opened(IDD_DOWNLOAD), 2);

  // A field that would put the log elsewhere is refused the same way.
  clear_boxes();
  set_log_port("");
  with_window([&](ui::Window dlg) {
    ui::set_text(dlg, IDC_TEST_FIELD2, "../A001");
    command(dlg, IDC_TEST_START);
  });
  EXPECT_THAT(box_lines(), Contains("ERROR: Cannot Create LogFile"));
  EXPECT_THAT(results(), ::testing::ElementsAre("Test Failed (error)"));
  EXPECT_THAT(box_lines(), Not(Contains("Test Results: Test Successful")));
}

}  // namespace
}  // namespace dz::testing
