// The serial port layer on real pseudo-terminals: raw 8N1 lines, reads that return at once,
// hang-up, exclusive use, and the port list.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/serial_port.h"
#include "tests/serial/serial_test_support.h"

namespace dz::serial {
namespace {

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

struct Pair {
  PseudoTerminal pty;
  Port port;
  Pair() : pty(test::pseudo_terminal()) {
    OpenError e = OpenError::other;
    port = Port::open(pty.slave_name, &e);
    EXPECT_EQ(e, OpenError::none);
    port.configure_line();
    port.set_immediate_reads();
  }
};

std::string read_all(Port& port, std::size_t want) {
  std::string got;
  std::uint8_t buf[4096];
  for (int i = 0; i < 50 && got.size() < want; ++i) {
    if (port.wait_readable(100) != Wait::ready) continue;
    const long n = port.read(buf);
    if (n > 0) got.append(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
  }
  return got;
}

TEST(SerialPort, BytesPassUnchangedBothWays) {
  DZ_REQUIRE_PTY();
  Pair p;
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  all += "\r\n\n\r\x03\x04\x1a\x11\x13";
  ASSERT_EQ(p.pty.master.write(bytes_of(all), 1000), static_cast<long>(all.size()));
  EXPECT_EQ(read_all(p.port, all.size()), all);
  ASSERT_EQ(p.port.write(bytes_of(all), 1000), static_cast<long>(all.size()));
  EXPECT_EQ(read_all(p.pty.master, all.size()), all);
}

// A read returns at once when nothing arrived, and a write to a device that does not read stops
// at the time-out.
TEST(SerialPort, ReadReturnsAtOnceAndWriteStopsAtTheTimeOut) {
  DZ_REQUIRE_PTY();
  Pair p;
  std::uint8_t buf[16];
  EXPECT_EQ(p.port.read(buf), 0);
  EXPECT_EQ(p.port.wait_readable(10), Wait::timeout);
  const std::string big(1 << 20, 'x');
  const long n = p.port.write(bytes_of(big), 100);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<long>(big.size()));
}

TEST(SerialPort, OtherSideGoingAwayIsAHangUpNotSilence) {
  DZ_REQUIRE_PTY();
  Pair p;
  ASSERT_EQ(p.pty.master.write(bytes_of("last words"), 100), 10);
  p.pty.master.close();
  // What arrived before the hang-up can still be read... or is gone with the line; either way
  // the port then reports hang-up and reads fail instead of returning 0 for ever.
  std::uint8_t buf[64];
  for (int i = 0; i < 5 && p.port.wait_readable(50) == Wait::ready; ++i) {
    if (p.port.read(buf) < 0) break;
  }
  EXPECT_EQ(p.port.wait_readable(50), Wait::hangup);
  EXPECT_EQ(p.port.read(buf), -1);
  EXPECT_EQ(p.port.write(bytes_of("x"), 50), -1);
}

// The device end sees whether the program has the line open, and data that waited while the line
// was closed survives reopening.
TEST(SerialPort, DeviceEndSeesWhetherTheProgramHasTheLineOpen) {
  DZ_REQUIRE_PTY();
  PseudoTerminal pty = test::pseudo_terminal();
  EXPECT_EQ(pty.master.wait_readable(0), Wait::hangup);
  {
    Port port = Port::open(pty.slave_name);
    ASSERT_TRUE(port.is_open());
    EXPECT_EQ(pty.master.wait_readable(0), Wait::timeout);
  }
  EXPECT_EQ(pty.master.wait_readable(0), Wait::hangup);
  ASSERT_EQ(pty.master.write(bytes_of("hello"), 100), 5);
  Port again = Port::open(pty.slave_name);
  again.set_immediate_reads();
  EXPECT_EQ(read_all(again, 5), "hello");
}

TEST(SerialPort, OpenFailuresAreClassified) {
  DZ_REQUIRE_PTY();
  OpenError e = OpenError::none;
  EXPECT_FALSE(Port::open("/dev/dz-no-such-port", &e).is_open());
  EXPECT_EQ(e, OpenError::not_found);
  EXPECT_FALSE(Port::open("", &e).is_open());
  EXPECT_EQ(e, OpenError::not_found);
  test::TempDir dir;
  std::ofstream(dir.file("plain")) << "not a port";
  EXPECT_FALSE(Port::open(dir.file("plain"), &e).is_open());
  EXPECT_EQ(e, OpenError::other);
}

TEST(SerialPort, ClosedPortRefusesEverything) {
  Port port;
  std::uint8_t buf[4];
  EXPECT_FALSE(port.is_open());
  EXPECT_EQ(port.read(buf), -1);
  EXPECT_EQ(port.write(bytes_of("x"), 10), -1);
  EXPECT_EQ(port.wait_readable(10), Wait::hangup);
  port.configure_line();  // harmless
}

TEST(SerialPortList, ScansTtyClassForSerialKindsAndSkipsEmptyUartSlots) {
  DZ_REQUIRE_PTY();
  test::TempDir dir;
  const auto sys = dir.path() / "sys";
  const auto dev = dir.path() / "dev";
  auto make = [&](const std::string& name, const char* type, bool node) {
    std::filesystem::create_directories(sys / name);
    if (type) std::ofstream(sys / name / "type") << type << "\n";
    if (node) std::ofstream(dev / name) << "";
  };
  std::filesystem::create_directories(dev);
  make("ttyS0", "4", true);      // a 16550A
  make("ttyS1", "0", true);      // registered slot, no UART
  make("ttyS2", nullptr, true);  // no type attribute: kept
  make("ttyUSB0", nullptr, true);
  make("ttyACM3", nullptr, true);
  make("ttyUSB1", nullptr, false);  // class entry without a device node
  make("tty1", nullptr, true);      // virtual console
  make("ttyprintk", nullptr, true);
  make("ttySX", nullptr, true);
  const auto ports = list_ports_under(sys.string(), dev.string());
  const std::string d = dev.string() + "/";
  EXPECT_EQ(ports,
            (std::vector<std::string>{d + "ttyACM3", d + "ttyS0", d + "ttyS2", d + "ttyUSB0"}));
  EXPECT_TRUE(list_ports_under((dir.path() / "missing").string(), dev.string()).empty());
}

TEST(SerialPortList, DefaultsAndCapacity) {
  if (default_port_name() == "COM1") {
    EXPECT_EQ(port_name_capacity(), 16u);
  } else {
    EXPECT_EQ(default_port_name(), "/dev/ttyS0");
    EXPECT_GE(port_name_capacity(), 64u);
  }
  EXPECT_FALSE(port_exists(""));
  EXPECT_FALSE(port_exists("/dev/dz-no-such-port"));
  EXPECT_FALSE(port_exists("COM99"));
}

}  // namespace
}  // namespace dz::serial
