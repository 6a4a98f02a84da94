// The UDP socket as the TFTP client and the jump use it, on real loopback sockets: the same
// behaviour from Windows Sockets (under Wine) and from BSD sockets.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/net.h"
#include "platform/udp.h"

namespace dz::test {
namespace {

class UdpSocket : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(net::startup()); }
  void TearDown() override { net::cleanup(); }

  static udp::Socket bound() {
    udp::Socket s = udp::Socket::create();
    EXPECT_TRUE(s.valid());
    EXPECT_TRUE(s.bind(udp::Address{udp::loopback_ip, 0})) << udp::last_error();
    return s;
  }
  static udp::Address where(const udp::Socket& s) {
    return udp::Address{udp::loopback_ip, s.local_address().port};
  }
  // The next datagram within two seconds, with its sender; empty with `from` untouched when
  // none came.
  static std::vector<std::uint8_t> next(udp::Socket& s, udp::Address& from) {
    std::uint8_t buffer[64];
    if (s.wait_readable(2000) != 1) return {};
    int n = s.receive_from(buffer, from);
    if (n < 0) return {0xEE};
    return std::vector<std::uint8_t>(buffer, buffer + n);
  }
};

// The transfer's socket is connected to the module's transfer port; the jump then disconnects it
// and must hear the answer from the module's own port.
TEST_F(UdpSocket, DisconnectLetsOtherPortsBeHeardAgain) {
  udp::Socket client = bound(), transfer = bound(), module = bound();
  ASSERT_TRUE(client.connect(where(transfer)));
  const std::uint8_t stray[] = {1, 2, 3};
  const std::uint8_t ack[] = {0, 4, 0, 1};
  ASSERT_EQ(module.send_to(stray, where(client)), 3);
  ASSERT_EQ(transfer.send_to(ack, where(client)), 4);
  udp::Address from;
  // Only the connected peer is heard.
  EXPECT_EQ(next(client, from), std::vector<std::uint8_t>(ack, ack + 4));
  EXPECT_EQ(from, where(transfer));
  ASSERT_EQ(client.send(ack), 4);
  EXPECT_EQ(next(transfer, from), std::vector<std::uint8_t>(ack, ack + 4));

  ASSERT_TRUE(client.disconnect()) << udp::last_error();
  const std::uint8_t jump[] = {'E', 'D', 'B', 'G', 0xFF, 0, 0, 2, 0};
  ASSERT_EQ(client.send_to(jump, where(module)), 9);
  EXPECT_EQ(next(module, from), std::vector<std::uint8_t>(jump, jump + 9));
  EXPECT_EQ(from, where(client));
  const std::uint8_t answer[] = {'E', 'D', 'B', 'G', 0xFF, 5, 0, 2};
  ASSERT_EQ(module.send_to(answer, where(client)), 8);
  EXPECT_EQ(next(client, from), std::vector<std::uint8_t>(answer, answer + 8));
  EXPECT_EQ(from, where(module));
}

// A datagram longer than the buffer is cut and reported longer than the buffer, on both
// receive calls, and the next one arrives whole.
TEST_F(UdpSocket, LongDatagramIsCutAndReportedLonger) {
  udp::Socket a = bound(), b = bound();
  std::vector<std::uint8_t> long_one(600);
  for (std::size_t i = 0; i < long_one.size(); ++i) long_one[i] = static_cast<std::uint8_t>(i);
  const std::uint8_t short_one[] = {9, 8, 7};
  for (int connected : {0, 1}) {
    SCOPED_TRACE(connected);
    if (connected != 0) {
      ASSERT_TRUE(a.connect(where(b)));
    }
    ASSERT_EQ(b.send_to(long_one, where(a)), 600);
    ASSERT_EQ(b.send_to(short_one, where(a)), 3);
    std::uint8_t buffer[256] = {};
    udp::Address from;
    ASSERT_EQ(a.wait_readable(2000), 1);
    int n = connected != 0 ? a.receive(buffer) : a.receive_from(buffer, from);
    EXPECT_GT(n, 256);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 256),
              std::vector<std::uint8_t>(long_one.begin(), long_one.begin() + 256));
    if (connected == 0) {
      EXPECT_EQ(from, where(b));
    }
    ASSERT_EQ(a.wait_readable(2000), 1);
    n = connected != 0 ? a.receive(buffer) : a.receive_from(buffer, from);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(buffer[0], 9);
  }
}

// A datagram sent to a port where nobody listens (a module that went away) draws an ICMP "port
// unreachable"; whatever the system makes of it, the datagram that a live peer sends next
// still arrives.
TEST_F(UdpSocket, AnUnreachablePortDoesNotSwallowTheNextDatagram) {
  udp::Socket a = bound(), b = bound();
  udp::Address gone;
  {
    udp::Socket closed = bound();
    gone = where(closed);
  }
  const std::uint8_t probe[] = {0, 2, 'x', 0};
  ASSERT_EQ(a.send_to(probe, gone), 4);
  const std::uint8_t ack[] = {0, 4, 0, 0};
  ASSERT_EQ(b.send_to(ack, where(a)), 4);
  udp::Address from;
  std::vector<std::uint8_t> got;
  // Windows may report the ICMP message as an error of one receive call (WSAECONNRESET); BSD
  // sockets drop it on a socket that is not connected.
  for (int i = 0; i < 3 && got.size() != 4; ++i) got = next(a, from);
  EXPECT_EQ(got, std::vector<std::uint8_t>(ack, ack + 4));
  EXPECT_EQ(from, where(b));
}

}  // namespace
}  // namespace dz::test
