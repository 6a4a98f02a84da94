// The Win32 serial port layer on a COM port of its own: a native pseudo-terminal (the far end,
// tests/serial/line_peer) mapped into the Wine prefix as COM10. The peer answers commands sent on
// the line itself, so every case drives the real CreateFileA / DCB / COMMTIMEOUTS / ReadFile /
// WriteFile / ClearCommError path.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"

namespace dz::serial {
namespace {

// Where the peer's line is mapped (cmake: --com-link {prefix}/dosdevices/com10).
constexpr const char* peer_port = "COM10";
// A port that no test maps.
constexpr const char* unmapped_port = "COM6";

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

class SerialPortWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("DZ_PEER_SERIAL"), nullptr)
        << "runs beside serial_line_peer (cmake/wine-with-peer.sh)";
  }

  static Port open_peer() {
    OpenError e = OpenError::other;
    Port port = Port::open(peer_port, &e);
    EXPECT_EQ(e, OpenError::none);
    port.configure_line();
    port.set_immediate_reads();
    return port;
  }

  // Reads until `want` bytes came, the line hangs up or about 5 s pass.
  static std::string read_all(Port& port, std::size_t want) {
    std::string got;
    std::vector<std::uint8_t> buffer(4096);
    for (int i = 0; i < 100 && got.size() < want; ++i) {
      const Wait w = port.wait_readable(50);
      if (w == Wait::hangup) break;
      if (w != Wait::ready) continue;
      const long n = port.read(buffer);
      if (n < 0) break;
      got.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(n));
    }
    return got;
  }

  static void command(Port& port, const std::string& text) {
    ASSERT_EQ(port.write(bytes_of(text + "\n"), 1000), static_cast<long>(text.size() + 1));
  }
};

// COM10 is reached by its plain name (CreateFileA alone knows COM1..COM9 so), it is listed, and a
// port nothing is mapped to is "not found", also for the list.
TEST_F(SerialPortWine, PlainComTenOpensAndListsAndMissingPortsAreNotFound) {
  Port port = open_peer();
  ASSERT_TRUE(port.is_open());
  port.close();

  const std::vector<std::string> ports = list_ports();
  EXPECT_NE(std::find(ports.begin(), ports.end(), "COM10"), ports.end());
  EXPECT_EQ(std::find(ports.begin(), ports.end(), unmapped_port), ports.end());
  for (const auto& name : ports) EXPECT_TRUE(port_exists(name)) << name;
  EXPECT_TRUE(port_exists("COM10"));
  EXPECT_TRUE(port_exists("com10"));
  EXPECT_FALSE(port_exists(unmapped_port));

  OpenError e = OpenError::none;
  EXPECT_FALSE(Port::open(unmapped_port, &e).is_open());
  EXPECT_EQ(e, OpenError::not_found);
  EXPECT_FALSE(Port::open("", &e).is_open());
  EXPECT_EQ(e, OpenError::not_found);
  // The device path is used as it is.
  Port by_path = Port::open("\\\\.\\COM10", &e);
  EXPECT_TRUE(by_path.is_open());
  EXPECT_EQ(e, OpenError::none);
}

TEST_F(SerialPortWine, BytesPassUnchangedBothWaysAndBigReadsComeWhole) {
  Port port = open_peer();
  ASSERT_TRUE(port.is_open());
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  all += "\r\n\n\r\x03\x04\x1a\x11\x13\xce";
  command(port, "echo " + std::to_string(all.size()));
  ASSERT_EQ(port.write(bytes_of(all), 1000), static_cast<long>(all.size()));
  EXPECT_EQ(read_all(port, 3 + all.size()), "ok\n" + all);

  // More than the line buffers at once: it arrives whole, in order.
  command(port, "send 70000");
  const std::string got = read_all(port, 3 + 70000);
  ASSERT_EQ(got.size(), 3u + 70000u);
  EXPECT_EQ(got.substr(0, 3), "ok\n");
  std::size_t wrong = 0;
  for (std::size_t i = 0; i < 70000; ++i) {
    if (static_cast<std::uint8_t>(got[3 + i]) != static_cast<std::uint8_t>(i * 7 + i / 256))
      ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
}

// Immediate reads return at once with nothing; timed reads (the production test's log) wait for
// their time-outs and return what came.
TEST_F(SerialPortWine, ImmediateAndTimedReads) {
  Port port = open_peer();
  ASSERT_TRUE(port.is_open());
  std::uint8_t buffer[64];
  EXPECT_EQ(port.read(buffer), 0);
  EXPECT_EQ(port.wait_readable(10), Wait::timeout);

  port.set_read_timeouts({.interval = 50, .multiplier = 0, .constant = 100});
  EXPECT_EQ(port.read_timed(buffer), 0);  // nothing comes: the total time-out ends the read
  command(port, "send 20");
  std::string got;
  for (int i = 0; i < 20 && got.size() < 23; ++i) {
    const long n = port.read_timed(buffer);
    ASSERT_GE(n, 0);
    got.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
  }
  ASSERT_EQ(got.size(), 23u);
  EXPECT_EQ(got.substr(0, 3), "ok\n");
  EXPECT_EQ(static_cast<std::uint8_t>(got[3 + 19]), static_cast<std::uint8_t>(19 * 7));
  // A buffer that fills ends the read at once.
  command(port, "send 61");
  std::uint8_t exact[64];
  long total = 0;
  for (int i = 0; i < 20 && total < 64; ++i) {
    const long n = port.read_timed({exact + total, static_cast<std::size_t>(64 - total)});
    ASSERT_GE(n, 0);
    total += n;
  }
  EXPECT_EQ(total, 64);
}

// The far end going away is a hang-up, not silence: what it said last can be read, then reads,
// waits and writes fail; the port opens again once a device is back.
TEST_F(SerialPortWine, FarEndGoingAwayIsAHangUpAndThePortOpensAgain) {
  Port port = open_peer();
  ASSERT_TRUE(port.is_open());
  command(port, "hangup last words");
  const std::string said = read_all(port, 10);
  EXPECT_TRUE(said.empty() || said == "last words") << said;
  std::uint8_t buffer[16];
  Wait w = Wait::ready;
  for (int i = 0; i < 100 && w != Wait::hangup; ++i) w = port.wait_readable(50);
  EXPECT_EQ(w, Wait::hangup);
  EXPECT_EQ(port.read(buffer), -1);
  EXPECT_EQ(port.write(bytes_of("x"), 50), -1);
  port.set_read_timeouts({.interval = 10, .multiplier = 0, .constant = 50});
  EXPECT_EQ(port.read_timed(buffer), -1);
  port.close();

  // The peer put a new line in place of the old one.
  Port again = open_peer();
  ASSERT_TRUE(again.is_open());
  command(again, "echo 5");
  ASSERT_EQ(again.write(bytes_of("again"), 1000), 5);
  EXPECT_EQ(read_all(again, 8), "ok\nagain");
}

// A device that takes nothing: a write ends at its time-out with what went out, and the next
// one reports 0 bytes (a stall, not a lost line). Runs beside a peer started with --deaf.
TEST_F(SerialPortWine, DeafDeviceWriteStopsAtTheTimeOut) {
  Port port = open_peer();
  ASSERT_TRUE(port.is_open());
  const std::string big(1 << 20, 'x');
  const long n = port.write(bytes_of(big), 200);
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<long>(big.size()));
  EXPECT_EQ(port.write(bytes_of(big), 100), 0);
  EXPECT_EQ(port.wait_readable(10), Wait::timeout);
}

}  // namespace
}  // namespace dz::serial
