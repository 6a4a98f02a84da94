// Whole serial downloads through the job, the detection dialog and the Download dialog on the
// headless host, against the simulated bootloader on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "download/interface.h"
#include "download/job.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "resources/resource.h"
#include "serial/ready_sequence.h"
#include "serial/serial_download.h"
#include "sim/serial_bootloader.h"
#include "tests/serial/serial_test_support.h"

namespace dz {

// The table of this suite: the real serial record, the others without operations.
constexpr DownloadInterface empty_record(const char* name) {
  DownloadInterface record{};
  for (std::size_t i = 0; name[i] != 0 && i + 1 < sizeof record.name; ++i) record.name[i] = name[i];
  return record;
}
const DownloadInterface download_interfaces[interface_count] = {
    empty_record("JTag Interface"), serial_download_interface, empty_record("USB Interface"),
    empty_record("Ethernet Interface")};

namespace {

const std::string ready_text(reinterpret_cast<const char*>(serial_ready_sequence.data()),
                             serial_ready_sequence.size());

class SerialJob : public test::SerialTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    DZ_REQUIRE_PTY();
  }
  void TearDown() override {
    module.reset();
    HostTest::TearDown();
  }

  void start_module(sim::SerialBootloaderConfig config) {
    std::string error;
    module = sim::SerialBootloader::start(std::move(config), error);
    ASSERT_NE(module, nullptr) << error;
    set_com_port_name(module->port_name());
  }

  // A raw file expected by the module; returns its path.
  std::string raw_file(std::size_t size, std::uint32_t seed,
                       sim::SerialBootloaderConfig config = {}) {
    data = test::random_bytes(size, seed);
    const std::string path = dir_.file("raw.nb0");
    test::write_file(path, data);
    config.expected = data;
    if (config.split_pause_ms == sim::SerialBootloaderConfig{}.split_pause_ms) {
      config.split_pause_ms = 20;
    }
    start_module(std::move(config));
    return path;
  }

  int run(const std::string& path, int is_raw, std::uint32_t start, std::uint32_t length) {
    return start_download_job(ui::no_window, serial_interface_index, path, is_raw, start, length,
                              0);
  }

  // A raw file of 100 bytes that no module expects; returns its path.
  std::string small_file() { return dir_.write("x.bin", test::random_bytes(100, 1)); }

  std::string echoed() { return appended(IDD_DOWNLOAD, IDC_MONITOR_OUTPUT); }

  std::unique_ptr<sim::SerialBootloader> module;
  std::vector<std::uint8_t> data;
};

TEST_F(SerialJob, RawFileArrivesIntactAndTheConsoleIsEchoed) {
  const std::string path = raw_file(100000, 1);  // three full 32 KiB pieces and a short one
  EXPECT_EQ(run(path, 1, 0x80000000, 100000), 1);
  ASSERT_TRUE(module->wait_result(2000));
  EXPECT_EQ(module->result(), true);
  EXPECT_EQ(module->received(), data);
  EXPECT_TRUE(box_lines().empty());
  const std::string out = echoed();
  // The text from before the ready sequence comes first, the sequence never; the module's last
  // words (progress and result) are echoed before the port closes.
  EXPECT_TRUE(out.starts_with(module->console().substr(0, module->console().find("Receiving"))));
  EXPECT_EQ(out.find(ready_text.substr(0, 4)), std::string::npos);
  EXPECT_TRUE(out.ends_with("Image received: 100000 bytes, OK\r\n")) << out;
  EXPECT_EQ(out, module->console());
}

TEST_F(SerialJob, WindowsCeImageIsStreamedWholeWithItsHeaders) {
  const auto image = test::wince_image({40000, 123457, 5}, 2);
  const std::string path = dir_.file("nk.bin");
  test::write_file(path, image);
  sim::SerialBootloaderConfig config;
  config.split_pause_ms = 20;
  start_module(config);
  EXPECT_EQ(run(path, 0, 0x80000000, 40000 + 123457 + 5), 1);
  ASSERT_TRUE(module->wait_result(2000));
  EXPECT_EQ(module->result(), true);  // every record checksum right, terminator seen
  EXPECT_EQ(module->received(), image);
  EXPECT_NE(echoed().find("Image received: " + std::to_string(image.size()) + " bytes, OK"),
            std::string::npos)
      << echoed();
}

TEST_F(SerialJob, SequenceSplitOverTwoReadsIsFound) {
  sim::SerialBootloaderConfig config;
  config.split_ready = true;
  config.split_pause_ms = 250;  // longer than a poll: the halves arrive in different reads
  const std::string path = raw_file(40000, 3, config);
  EXPECT_EQ(run(path, 1, 0x80000000, 40000), 1);
  ASSERT_TRUE(module->wait_result(2000));
  EXPECT_EQ(module->received(), data);
  EXPECT_EQ(echoed().find('\xAA'), std::string::npos);
}

TEST_F(SerialJob, BrokenStartHidesTheFirstSequenceAndTheCleanRepetitionIsFound) {
  sim::SerialBootloaderConfig config;
  config.broken_prefix = true;
  config.split_pause_ms = 150;
  const std::string path = raw_file(5000, 4, config);
  EXPECT_EQ(run(path, 1, 0x80000000, 5000), 1);
  EXPECT_TRUE(module->wait_ready_sent(2, 2000));
  EXPECT_EQ(module->ready_count(), 2);
  ASSERT_TRUE(module->wait_result(2000));
  EXPECT_EQ(module->received(), data);
  // The unrecognised first sequence stays in the collected text (up to its first zero byte);
  // had the matcher gone back, detection would have stopped right after AA 55 55.
  const std::string banner = module->console().substr(0, module->console().find("Image"));
  EXPECT_EQ(serial_collected_text(), banner + "\xAA\x55\x55\xAA\x55\x55\xAA");
  EXPECT_TRUE(echoed().starts_with(banner + "\xAA\x55\x55\xAA\x55\x55\xAA"));
}

TEST_F(SerialJob, LongConsoleBeforeTheSequenceKeepsItsLatestKilobyte) {
  sim::SerialBootloaderConfig config;
  config.banner_bytes = 5000;
  const std::string path = raw_file(1000, 5, config);
  EXPECT_EQ(run(path, 1, 0x80000000, 1000), 1);
  const std::string banner = module->console().substr(0, module->console().find("Image"));
  ASSERT_GT(banner.size(), 5000u);
  EXPECT_EQ(serial_collected_text(), banner.substr(banner.size() - serial_rx_capacity));
  EXPECT_TRUE(echoed().starts_with(banner.substr(banner.size() - serial_rx_capacity)));
  EXPECT_EQ(echoed().find('\xAA'), std::string::npos);
}

TEST_F(SerialJob, AbortDuringStreamingEndsAfterThePieceAndClosesThePort) {
  const std::string path = raw_file(4 << 20, 6);
  threads::Thread user = threads::Thread::start([this] {
    ASSERT_TRUE(module->wait_received(128 * 1024, 5000));
    module->pause_reading(true);  // the module stops taking data: the write stalls
    const ui::Window dlg = ui::headless::wait_for_dialog(IDD_DOWNLOAD, 2000);
    ui::send_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
  });
  EXPECT_EQ(run(path, 1, 0x80000000, 4 << 20), 1);  // an abort is not a failure
  user.join();
  EXPECT_LT(module->received().size(), data.size());
  EXPECT_FALSE(module->result().has_value());
  EXPECT_TRUE(box_lines().empty());
}

TEST_F(SerialJob, PortVanishingMidDownloadFailsTheJobInsteadOfHanging) {
  sim::SerialBootloaderConfig config;
  config.vanish_after = 70000;
  const std::string path = raw_file(1 << 20, 7, config);
  EXPECT_EQ(run(path, 1, 0x80000000, 1 << 20), 0);
  EXPECT_EQ(box_lines(), std::vector<std::string>{"Error: Cannot Write to Serial Port\r\n"});
  EXPECT_LT(module->received().size(), data.size());
}

// The job stops before the Download dialog; the interface's own open (of a port that went away
// after detection) fails with the same message and then writes nothing.
TEST_F(SerialJob, PortThatCannotBeOpenedStopsBeforeTheDownloadDialog) {
  set_com_port_name("/dev/dz-no-such-port");
  EXPECT_EQ(run(small_file(), 1, 0x80000000, 100), 0);
  EXPECT_EQ(box_lines(), std::vector<std::string>{"Error: Cannot Open Serial Port"});
  EXPECT_TRUE(opened(IDD_DETECTION));
  EXPECT_FALSE(opened(IDD_DOWNLOAD));
  clear_boxes();
  EXPECT_EQ(serial_open(ui::no_window), 0);
  EXPECT_EQ(box_lines(), std::vector<std::string>{"Error: Cannot Open Serial Port"});
  std::uint8_t piece[4] = {1, 2, 3, 4};
  EXPECT_EQ(serial_write(piece, 0x80000000, 4), 0);  // nothing open: nothing written
  EXPECT_EQ(serial_close(), 1);
}

TEST_F(SerialJob, AbortWhileWaitingForTheModuleEndsTheJobQuietly) {
  serial::PseudoTerminal silent = test::pseudo_terminal();  // nothing ever answers on it
  set_com_port_name(silent.slave_name);
  threads::Thread user = threads::Thread::start([] {
    const ui::Window dlg = ui::headless::wait_for_dialog(IDD_DETECTION, 2000);
    ui::send_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
  });
  EXPECT_EQ(run(small_file(), 1, 0x80000000, 100), 0);
  user.join();
  EXPECT_TRUE(box_lines().empty());
  EXPECT_FALSE(opened(IDD_DOWNLOAD));
  // detect has let go of the line.
  EXPECT_EQ(silent.master.wait_readable(1000), serial::Wait::hangup);
}

TEST_F(SerialJob, LineGoneWhileWaitingForTheModuleIsReported) {
  serial::PseudoTerminal line = test::pseudo_terminal();
  set_com_port_name(line.slave_name);
  threads::Thread user = threads::Thread::start([&line] {
    ui::headless::wait_for_dialog(IDD_DETECTION, 2000);
    line.master.close();
  });
  EXPECT_EQ(run(small_file(), 1, 0x80000000, 100), 0);
  user.join();
  EXPECT_EQ(box_lines(), std::vector<std::string>{"Error: Cannot Open Serial Port"});
  EXPECT_FALSE(opened(IDD_DOWNLOAD));
}

TEST_F(SerialJob, MonitorIsDoneWhenTheJobReturnsAndTheModuleServesTheNextJob) {
  const std::string path = raw_file(33000, 8);
  ASSERT_EQ(run(path, 1, 0x80000000, 33000), 1);
  const std::size_t after_job = events().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(events().size(), after_job);  // nothing echoes after close
  ASSERT_EQ(run(path, 1, 0x80000000, 33000), 1);
  EXPECT_TRUE(module->wait_ready_sent(2, 2000));
  EXPECT_EQ(module->ready_count(), 2);
  ASSERT_TRUE(module->wait_result(2000));
  EXPECT_EQ(module->received(), data);
}

}  // namespace
}  // namespace dz
