// Opening and releasing the parallel port: traffic, failures and their message.
#include <gtest/gtest.h>

#include "jtag/lpt.h"
#include "platform/debug.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

class LptOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_cable_state(0);
    previous_sink = debug::set_sink([this](std::string_view line) { debug_lines += line; });
  }
  void TearDown() override {
    debug::set_sink(previous_sink);
    reset_cable_state(0);  // releases the port too
  }
  debug::Sink previous_sink;
  std::string debug_lines;
  BoxRecorder boxes;
};

TEST_F(LptOpen, OpenAndCloseWriteTheSpecifiedBytesAndTheWigglerIsLeftRunning) {
  RecordingPort port;
  port_io::set_simulated_port(&port);
  lpt_base = 0;
  EXPECT_EQ(jtag_open_cable(), 1);
  EXPECT_EQ(lpt_base, 0x378);
  EXPECT_TRUE(port_io::acquired());
  EXPECT_EQ(port.log, (std::vector<Access>{{'w', 0x378, 0x01}}));
  port.log.clear();
  EXPECT_EQ(jtag_close_cable(), 1);
  EXPECT_EQ(port.log, (std::vector<Access>{{'w', 0x378, 0x01}, {'w', 0x37A, 0x01}}));
  EXPECT_FALSE(port_io::acquired());
  EXPECT_TRUE(boxes.boxes.empty());
  // Closing the Wiggler: D4 (NOT TRST) high and D0 (SRST) low, so the module is left running.
  jtag_interface = 2;
  EXPECT_EQ(jtag_open_cable(), 1);
  port.log.clear();
  EXPECT_EQ(jtag_close_cable(), 1);
  EXPECT_EQ(port.log, (std::vector<Access>{{'w', 0x378, 0x10}, {'w', 0x37A, 0x01}}));
}

TEST_F(LptOpen, QuietOpenFailsWithoutMessageOrDebugLine) {
  port_io::set_port_override("remote:nohost");
  EXPECT_EQ(jtag_open_cable(0), 0);
  EXPECT_EQ(lpt_open(0), 0);
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_TRUE(debug_lines.empty());
  EXPECT_FALSE(port_io::acquired());
  EXPECT_EQ(jtag_open_cable(), 0);  // the usual open still tells
  EXPECT_EQ(boxes.boxes.size(), 1u);
}

TEST_F(LptOpen, MissingPortDeviceShowsTheDriverMessageWithTheReasonOnDebugOutput) {
  // Windows reaches the port by I/O address through the driver service, not by a device path.
  if (port_io::default_port_name() == "0x378") GTEST_SKIP() << "Windows opens ports by I/O address";
  port_io::set_port_name("/nonexistent/parport7");
  EXPECT_EQ(lpt_open(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Error Loading GIVEIO.SYS");
  EXPECT_EQ(boxes.boxes[0].caption, "Error");
  EXPECT_EQ(boxes.boxes[0].flags, ui::MB_OK);
  EXPECT_EQ(boxes.boxes[0].owner, ui::no_window);
  EXPECT_NE(debug_lines.find("/nonexistent/parport7"), std::string::npos);
  EXPECT_NE(debug_lines.find("No such file"), std::string::npos);
  EXPECT_FALSE(port_io::acquired());
}

TEST_F(LptOpen, OverrideWinsOverTheSettingAndBadRemoteNamesFail) {
  port_io::set_port_name("/dev/null-port");
  port_io::set_port_override("remote:nohost");
  EXPECT_EQ(port_io::effective_port_name(), "remote:nohost");
  EXPECT_EQ(lpt_open(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_NE(debug_lines.find("remote:HOST:PORT"), std::string::npos);
  port_io::set_port_override("");
  EXPECT_EQ(port_io::effective_port_name(), "/dev/null-port");
  port_io::set_port_name("");
  EXPECT_EQ(port_io::effective_port_name(), port_io::default_port_name());
}

TEST_F(LptOpen, OverlongStartupDirectoryIsRefusedWithoutOverflow) {
  port_driver_needed = 1;
  RecordingPort port;
  port_io::set_simulated_port(&port);
  startup_directory = std::string(244, 'd');  // 244 + 1 + 10 + 1 = 256: just fits
  // On Windows the driver service is real and cannot start here: only the refusals are checked.
  const bool driver_service_is_real = port_io::default_port_name() == "0x378";
  if (!driver_service_is_real) {
    EXPECT_EQ(lpt_open(), 1);
    lpt_close();
    EXPECT_TRUE(boxes.boxes.empty());
  }
  startup_directory = std::string(245, 'd');
  EXPECT_EQ(lpt_open(), 0);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Error Loading GIVEIO.SYS");
  EXPECT_NE(debug_lines.find("too long"), std::string::npos);
  startup_directory = std::string(4000, 'x');
  EXPECT_EQ(lpt_open(), 0);
  EXPECT_EQ(boxes.boxes.size(), 2u);
}

TEST_F(LptOpen, FindBaseTakesAnAddressSetting) {
  for (auto [name, base] :
       {std::pair{"", 0x378}, {"0x278", 0x278}, {"0xZZ", 0x378}, {"0x1FFFF", 0x378}}) {
    port_io::set_port_name(name);
    EXPECT_EQ(lpt_find_base(), base) << name;
  }
}

TEST(RemoteName, Parsing) {
  std::string host;
  std::uint16_t port = 0;
  EXPECT_TRUE(port_io::parse_remote_name("remote:127.0.0.1:3335", host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 3335);
  EXPECT_TRUE(port_io::parse_remote_name("remote:localhost:1", host, port));
  for (const char* bad : {"remote:", "remote:host", "remote::5", "remote:h:0", "remote:h:65536",
                          "remote:h:12x", "/dev/parport0", "remote:h:"})
    EXPECT_FALSE(port_io::parse_remote_name(bad, host, port)) << bad;
}

TEST(UsbBranch, OpeningUsbKindsReportsNoAdapter) {
  BoxRecorder boxes;
  for (std::uint32_t kind : {4u, 5u}) {
    reset_cable_state(kind);
    EXPECT_EQ(jtag_open_cable(), 0);
    EXPECT_EQ(jtag_close_cable(), 1);
    EXPECT_EQ(jtag_open_cable(0), 0);  // quiet: a detection retry that was already told
    EXPECT_EQ(jtag_close_cable(), 1);
  }
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].text,
            "No compatible USB JTAG Adapter Found. Check USB Cable Connection.");
  EXPECT_EQ(boxes.boxes[0].caption, "ERROR");
  reset_cable_state(0);
}

}  // namespace
}  // namespace dz::test
