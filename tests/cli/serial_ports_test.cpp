// The serial ports the command line offers and accepts: the scan of /sys/class/tty with the
// stable /dev/serial/by-id names, and the terminal-device check for ports named by the user.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "tests/support/temp_dir.h"

namespace dz::testing {
namespace {

namespace fs = std::filesystem;

TEST(SerialPortsOffered, ByIdLinksAreListedBesideTheScannedPorts) {
  const test::TempDir temp;
  const fs::path root = temp.path();
  const fs::path sys = root / "sys";
  const fs::path dev = root / "dev";
  fs::create_directories(sys / "ttyUSB0");
  fs::create_directories(dev / "serial" / "by-id");
  std::ofstream(dev / "ttyUSB0") << "";
  fs::create_symlink("../../ttyUSB0", dev / "serial" / "by-id" / "usb-FTDI_FT232R_A1B2-if00-port0");
  fs::create_symlink("../../ttyUSB7", dev / "serial" / "by-id" / "usb-unplugged-if00-port0");

  const std::string d = dev.string() + "/";
  EXPECT_EQ(serial::list_ports_under(sys.string(), dev.string()),
            (std::vector<std::string>{d + "serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0",
                                      d + "ttyUSB0"}));
}

TEST(SerialPortsOffered, OnlyTerminalDevicesArePorts) {
  serial::PseudoTerminal pty;
  std::string error;
  ASSERT_TRUE(serial::open_pseudo_terminal(pty, error)) << error;
  EXPECT_TRUE(serial::port_exists(pty.slave_name));
  EXPECT_TRUE(serial::port_exists("/dev/ptmx"));  // a terminal device of the tty class

  const test::TempDir temp;
  EXPECT_FALSE(serial::port_exists(temp.write("not-a-port", {'x'})));
  EXPECT_FALSE(serial::port_exists("/dev/null"));
  EXPECT_FALSE(serial::port_exists("/dev/zero"));
  EXPECT_FALSE(serial::port_exists(temp.path().string()));
  EXPECT_FALSE(serial::port_exists("/dev/dz-no-such-port"));
}

}  // namespace
}  // namespace dz::testing
