// TCP streams between two real sockets on loopback: the same checks on Linux and (under Wine) on
// Windows Sockets.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/net.h"
#include "platform/tcp.h"

namespace dz::tcp {
namespace {

TEST(Tcp, StreamsCarryDataBothWaysAndReportTimeOutsAndClosing) {
  ASSERT_TRUE(net::startup());
  std::string error;
  Listener listener = Listener::listen_loopback(0, error);
  ASSERT_TRUE(listener.valid()) << error;
  ASSERT_NE(listener.port(), 0);
  // Nobody connects: accept gives up after its wait.
  EXPECT_FALSE(listener.accept(50).valid());

  Stream client = connect("127.0.0.1", listener.port(), error);
  ASSERT_TRUE(client.valid()) << error;
  EXPECT_TRUE(error.empty());
  Stream server = listener.accept(5000);
  ASSERT_TRUE(server.valid());

  // Nothing sent yet: a bounded read times out.
  std::uint8_t byte = 0;
  EXPECT_EQ(server.read_some(&byte, 1, 30), -2);

  // 300 KB from the client arrive whole and in order while the server reads in pieces.
  std::vector<std::uint8_t> sent(300 * 1024);
  for (std::size_t i = 0; i < sent.size(); ++i)
    sent[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  std::thread writer([&] { EXPECT_TRUE(client.write_all(sent.data(), sent.size())); });
  std::vector<std::uint8_t> received;
  std::uint8_t buffer[4096];
  while (received.size() < sent.size()) {
    const int got = server.read_some(buffer, sizeof buffer, 5000);
    ASSERT_GT(got, 0);
    received.insert(received.end(), buffer, buffer + got);
  }
  writer.join();
  EXPECT_EQ(received, sent);

  // And back, through a name rather than an address.
  Stream second = connect("localhost", listener.port(), error);
  ASSERT_TRUE(second.valid()) << error;
  Stream second_server = listener.accept(5000);
  ASSERT_TRUE(second_server.valid());
  const std::uint8_t answer[] = {'1', '0', '1'};
  ASSERT_TRUE(second_server.write_all(answer, sizeof answer));
  std::uint8_t got3[3] = {};
  int total = 0;
  while (total < 3) {
    const int got = second.read_some(got3 + total, sizeof got3 - total, 5000);
    ASSERT_GT(got, 0);
    total += got;
  }
  EXPECT_EQ(std::vector<std::uint8_t>(got3, got3 + 3),
            std::vector<std::uint8_t>(answer, answer + 3));

  // The peer closes: the reader sees 0, not an error or a time-out.
  second_server.close();
  EXPECT_EQ(second.read_some(&byte, 1, 5000), 0);
  // A closed stream refuses further use.
  second.close();
  EXPECT_FALSE(second.valid());
  EXPECT_EQ(second.read_some(&byte, 1, 0), -1);
  EXPECT_FALSE(second.write_all(answer, 1));
}

TEST(Tcp, ConnectingWhereNobodyListensFailsWithAReason) {
  ASSERT_TRUE(net::startup());
  std::string error;
  std::uint16_t port = 0;
  {
    Listener l = Listener::listen_loopback(0, error);
    ASSERT_TRUE(l.valid()) << error;
    port = l.port();
  }  // closed again: the port is free and nobody listens
  Stream s = connect("127.0.0.1", port, error);
  EXPECT_FALSE(s.valid());
  EXPECT_NE(error.find("cannot connect to 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << error;
  error.clear();
  Stream unnamed = connect("no-such-host.invalid", 1, error);
  EXPECT_FALSE(unnamed.valid());
  EXPECT_NE(error.find("cannot resolve no-such-host.invalid"), std::string::npos) << error;
}

TEST(Tcp, ASecondListenerCannotTakeAPortInUse) {
  ASSERT_TRUE(net::startup());
  std::string error;
  Listener first = Listener::listen_loopback(0, error);
  ASSERT_TRUE(first.valid()) << error;
  Listener second = Listener::listen_loopback(first.port(), error);
  EXPECT_FALSE(second.valid());
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:"), std::string::npos) << error;
}

}  // namespace
}  // namespace dz::tcp
