// The loader's remote_bitbang client against a real server on a TCP socket: the simulator's
// remote_bitbang session served from a thread of this process (so the same test runs on Linux and,
// under Wine, on Windows Sockets).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/net.h"
#include "platform/tcp.h"
#include "sim/remote_bitbang.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

// A remote_bitbang server for one processor, serving clients one after another on its thread.
class InProcessServer {
 public:
  explicit InProcessServer(sim::Pxa& cpu) : cpu_(cpu) {
    std::string error;
    listener_ = tcp::Listener::listen_loopback(0, error);
    EXPECT_TRUE(listener_.valid()) << error;
    thread_ = std::thread([this] { run(); });
  }
  ~InProcessServer() { stop(); }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    listener_ = tcp::Listener();
  }
  std::uint16_t port() const { return listener_.port(); }
  std::uint64_t requests() const { return requests_.load(); }

 private:
  void run() {
    while (!stop_) {
      tcp::Stream client = listener_.accept(50);
      if (!client) continue;
      sim::BitbangSession session(cpu_);
      std::uint8_t buffer[4096];
      std::string reply;
      while (!stop_) {
        const int got = client.read_some(buffer, sizeof buffer, 50);
        if (got == -2) continue;
        if (got <= 0) break;
        reply.clear();
        const bool more = session.feed(buffer, static_cast<std::size_t>(got), reply);
        requests_ = session.requests();
        if (!reply.empty() &&
            !client.write_all(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()))
          break;
        if (!more) break;
      }
    }
  }

  sim::Pxa& cpu_;
  tcp::Listener listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> requests_{0};
};

TEST(RemoteBitbangLink, IdentifiesAndShiftsThroughARealServer) {
  ASSERT_TRUE(net::startup());
  sim::Pxa cpu(sim::CpuModel::pxa270);
  InProcessServer server(cpu);
  ASSERT_NE(server.port(), 0);
  BoxRecorder boxes;

  // The Wiggler: its reset outputs travel as 'r'..'u' requests too.
  reset_cable_state(2);
  port_io::set_port_override("remote:127.0.0.1:" + std::to_string(server.port()));
  // On the Windows NT family the machine's own port needs the port driver; a remote port does
  // not, so neither its file (whose path could not even be formed here) nor its service matter.
  port_driver_needed = 1;
  startup_directory = std::string(4000, 'x');
  ASSERT_EQ(jtag_open_cable(), 1) << (boxes.boxes.empty() ? "" : boxes.boxes[0].text);
  ASSERT_EQ(jtag_reset_tap(1), 1);
  // Test-Logic-Reset selected the identification register.
  std::uint32_t idcode = 0;
  jtag_scan_dr(nullptr, &idcode, 32);
  EXPECT_EQ(idcode, 0x29265013u);

  // An instruction scan, then IDCODE read again. (Every TDO bit is one round trip, which Wine
  // makes slow: the whole identification runs over this link in the Linux-only test.)
  jtag_ir_length = 7;
  jtag_load_ir(0x7E);
  idcode = 0;
  jtag_scan_dr(nullptr, &idcode, 32);
  EXPECT_EQ(idcode, 0x29265013u);

  // BYPASS is one bit long: 40 bits come back delayed by one clock, a 0 first.
  jtag_load_ir(0x7F);
  const std::uint32_t pattern[2] = {0xC3A5F00Fu, 0x5Au};
  std::uint32_t captured[2] = {};
  jtag_scan_dr(pattern, captured, 40);
  const std::uint64_t in = pattern[0] | static_cast<std::uint64_t>(pattern[1]) << 32;
  const std::uint64_t out = captured[0] | static_cast<std::uint64_t>(captured[1]) << 32;
  EXPECT_EQ(out, (in << 1) & 0xFFFFFFFFFFull);
  EXPECT_EQ(jtag_close_cable(), 1);
  EXPECT_GT(server.requests(), 300u);
  EXPECT_TRUE(boxes.boxes.empty());

  // The server has gone: opening fails and says so once.
  server.stop();
  EXPECT_EQ(jtag_open_cable(), 0);
  EXPECT_EQ(boxes.boxes.size(), 1u);
  startup_directory.clear();
  reset_cable_state(0);
}

}  // namespace
}  // namespace dz::test
