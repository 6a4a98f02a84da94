// The loader's remote_bitbang client against an in-process server that can misbehave: it sends
// a scan's requests in one go and takes the answers in one read, however the server splits them,
// and a server that goes away leaves a clear line and no hang.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "bscan/cpu.h"
#include "platform/debug.h"
#include "platform/tcp.h"
#include "sim/remote_bitbang.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

// A remote_bitbang server for one client, on its own thread, in front of a simulated PXA270.
class ToyServer {
 public:
  // `split`: answers go out one byte per send. `close_after`: the connection is closed, unread,
  // once that many requests have arrived (0 = never).
  ToyServer(bool split, std::uint64_t close_after) : cpu_(sim::CpuModel::pxa270) {
    std::string error;
    listener_ = tcp::Listener::listen_loopback(0, error);
    thread_ = std::thread([this, split, close_after] { serve(split, close_after); });
  }
  ~ToyServer() { thread_.join(); }
  std::uint16_t port() const { return listener_.port(); }
  // Reads that brought requests, so far.
  std::uint64_t receives() const { return receives_.load(); }
  std::uint32_t idcode() const { return cpu_.tap().config().idcode; }

 private:
  void serve(bool split, std::uint64_t close_after) {
    tcp::Stream client = listener_.accept(10000);
    if (!client) return;
    sim::BitbangSession session(cpu_);
    std::uint8_t buffer[8192];
    for (;;) {
      const int got = client.read_some(buffer, sizeof buffer, 10000);
      if (got <= 0) return;
      receives_.fetch_add(1);
      std::string reply;
      const bool more = session.feed(buffer, static_cast<std::size_t>(got), reply);
      if (close_after != 0 && session.requests() >= close_after) return;  // closes unanswered
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(reply.data());
      if (split) {
        for (std::size_t i = 0; i < reply.size(); ++i)
          if (!client.write_all(bytes + i, 1)) return;
      } else if (!reply.empty() && !client.write_all(bytes, reply.size())) {
        return;
      }
      if (!more) return;
    }
  }

  sim::Pxa cpu_;
  tcp::Listener listener_;
  std::atomic<std::uint64_t> receives_{0};
  std::thread thread_;
};

class RemoteBatch : public ::testing::Test {
 protected:
  void connect(const ToyServer& server) {
    reset_cable_state(0);
    port_io::set_port_override("remote:127.0.0.1:" + std::to_string(server.port()));
    ASSERT_EQ(jtag_open_cable(), 1);
    jtag_reset_tap(0);
  }
  void TearDown() override {
    jtag_close_cable();
    reset_cable_state(0);
  }
};

TEST_F(RemoteBatch, AScanIsOneRoundTripAndSplitAnswersAreCollected) {
  ToyServer server(/*split=*/true, 0);
  connect(server);
  std::uint32_t words[16] = {};
  const std::uint64_t before = server.receives();
  // After the TAP reset IDCODE is selected: the first 32 bits are the code, then the zeros shifted
  // in behind it.
  jtag_scan_dr(nullptr, words, 504);
  EXPECT_EQ(words[0], server.idcode());
  for (int w = 1; w < 16; ++w) EXPECT_EQ(words[w], 0u) << w;
  // A whole scan: its clock writes and 504 reads go out together (one round trip, where one per
  // bit would be 504).
  EXPECT_LE(server.receives() - before, 2u);
  // Short scans one after another stay in step.
  for (int i = 0; i < 20; ++i) {
    std::uint32_t code = 0;
    jtag_scan_dr(nullptr, &code, 32);
    EXPECT_EQ(code, server.idcode()) << i;
  }
  jtag_close_cable();  // the server sees the end of the connection and stops
}

TEST_F(RemoteBatch, AServerThatClosesMidScanLeavesALineAndOnesWithoutHanging) {
  std::vector<std::string> lines;
  const auto previous =
      debug::set_sink([&lines](std::string_view line) { lines.emplace_back(line); });
  {
    ToyServer server(false, 200);  // goes away during the first data scan
    connect(server);
    std::uint32_t words[2] = {};
    jtag_scan_dr(nullptr, words, 64);
    EXPECT_EQ(words[0], 0xFFFFFFFFu);
    EXPECT_EQ(words[1], 0xFFFFFFFFu);
    // Later scans neither send nor wait.
    jtag_scan_dr(nullptr, words, 64);
    EXPECT_EQ(words[0], 0xFFFFFFFFu);
    jtag_close_cable();
  }
  debug::set_sink(previous);
  std::size_t said = 0;
  for (const auto& line : lines)
    if (line.find("remote_bitbang server 127.0.0.1:") != std::string::npos) ++said;
  EXPECT_EQ(said, 1u);
}

}  // namespace
}  // namespace dz::test
