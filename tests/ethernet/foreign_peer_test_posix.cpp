// The transfer listens only to the module that announced itself: a host that answers the write
// request first, and datagrams from other hosts or other ports during the transfer and the jump,
// are ignored. 127.0.0.1 and 127.0.0.2 are two loopback addresses of this machine (Linux only:
// under Wine a socket bound to 127.0.0.2 sends from 127.0.0.1, so the rogue host cannot be made).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "ethernet_fixture.h"
#include "platform/thread.h"

namespace dz::test {
namespace {

constexpr std::uint32_t rogue_ip = 0x7F000002;  // 127.0.0.2

std::vector<std::uint8_t> ack(std::uint16_t number) {
  return {0, 4, static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

const std::vector<std::uint8_t> module_oack = {0,   6,   0, 0,   'b', 'l', 'k', 's', 'i',
                                               'z', 'e', 0, '1', '0', '2', '4', 0};

// The module's TFTP server on 127.0.0.1 and, beside it, a rogue host on 127.0.0.2 that races it:
// it answers the write request and the jump command before the module does, and serves a
// transfer like a working server if one comes to it. A neighbour on the module's own address
// (another port) and the rogue send stray acknowledgements ahead of every real one.
class RacedModule {
 public:
  bool module_answers_start = true;
  bool module_answers_jump = true;

  bool start() {
    module_ = udp::Socket::create();
    rogue_ = udp::Socket::create();
    neighbour_ = udp::Socket::create();
    if (!module_ || !rogue_ || !neighbour_) return false;
    if (!module_.bind(udp::Address{udp::loopback_ip, 0}) ||
        !rogue_.bind(udp::Address{rogue_ip, 0}) ||
        !neighbour_.bind(udp::Address{udp::loopback_ip, 0}))
      return false;
    thread_ = threads::Thread::start([this] { run(); });
    return true;
  }
  ~RacedModule() {
    stop_ = 1;
    if (thread_) thread_.join();
  }

  std::uint16_t port() const { return module_.local_address().port; }
  std::vector<std::uint8_t> file() {
    std::lock_guard lock(mutex_);
    return file_;
  }
  int rogue_packets() const { return rogue_packets_.load(); }
  int jumps() const { return jumps_.load(); }

 private:
  void run() {
    std::uint8_t p[2048];
    std::uint16_t expected = 1;
    while (stop_.load() == 0) {
      udp::Address from;
      if (rogue_.wait_readable(0) == 1) {
        int n = rogue_.receive_from(p, from);
        if (n >= 4 && p[1] == 3) {
          ++rogue_packets_;
          rogue_.send_to(ack(static_cast<std::uint16_t>((p[2] << 8) | p[3])), from);
        }
      }
      if (module_.wait_readable(2) != 1) continue;
      int n = module_.receive_from(p, from);
      if (n >= 2 && p[0] == 0 && p[1] == 2) {
        rogue_.send_to(module_oack, from);  // the rogue is faster
        if (module_answers_start) module_.send_to(module_oack, from);
        expected = 1;
      } else if (n >= 4 && p[0] == 0 && p[1] == 3) {
        auto number = static_cast<std::uint16_t>((p[2] << 8) | p[3]);
        // Acknowledgements that would end the transfer at once if they were listened to.
        auto stray = ack(static_cast<std::uint16_t>(number + 3));
        rogue_.send_to(stray, from);
        neighbour_.send_to(stray, from);
        if (number == expected) {
          std::lock_guard lock(mutex_);
          file_.insert(file_.end(), p + 4, p + n);
          ++expected;
        }
        module_.send_to(ack(number), from);
      } else if (n == 9 && std::memcmp(p, "EDBG", 4) == 0) {
        ++jumps_;
        rogue_.send_to(std::vector<std::uint8_t>{'?'}, from);
        if (module_answers_jump) module_.send_to(std::vector<std::uint8_t>(p, p + 8), from);
      }
    }
  }

  udp::Socket module_, rogue_, neighbour_;
  threads::Thread thread_;
  std::atomic<int> stop_{0};
  std::atomic<int> rogue_packets_{0};
  std::atomic<int> jumps_{0};
  std::mutex mutex_;
  std::vector<std::uint8_t> file_;
};

class ForeignPeer : public EthernetTest {
 protected:
  void SetUp() override {
    EthernetTest::SetUp();
    BootmeInfo info = bootme_info_named("PXA270-SIM");
    info.ip[0] = 127, info.ip[3] = 1;
    set_last_bootme(info);
  }
  // Starts the module and its rival (skips the test where 127.0.0.2 cannot be bound).
  bool start(RacedModule& raced) {
    if (!raced.start()) return false;
    udp::set_edbg_ports(loader_port_, raced.port());
    return true;
  }
};

TEST_F(ForeignPeer, OnlyTheAnnouncedModuleReceivesTheImage) {
  for (int fast : {0, 1}) {
    RacedModule raced;
    if (!start(raced)) GTEST_SKIP() << "127.0.0.2 cannot be bound here";
    fast_download = fast;
    auto bytes = random_bytes(20 * 1024 + 300, 41 + static_cast<std::uint32_t>(fast));
    ASSERT_EQ(tftp_start(ui::no_window), 1);
    EXPECT_EQ(tftp_state().peer, (udp::Address{udp::loopback_ip, raced.port()}));
    EXPECT_EQ(tftp_state().block_size, 1024u);
    for (std::size_t done = 0; done < bytes.size(); done += 8192) {
      auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(8192, bytes.size() - done));
      ASSERT_EQ(tftp_write(bytes.data() + done, 0, piece), 1) << "fast " << fast;
    }
    EXPECT_EQ(ethernet_close(), 1);
    EXPECT_EQ(raced.file(), bytes) << "fast " << fast;
    EXPECT_EQ(raced.rogue_packets(), 0);
    EXPECT_EQ(raced.jumps(), 1);
    EXPECT_TRUE(box_lines().empty()) << box_lines().front();
    EXPECT_GE(count_lines("Ignored a datagram from 127.0.0.2:"), 1);
  }
}

TEST_F(ForeignPeer, AnswerFromAnotherHostDoesNotStartTheTransfer) {
  RacedModule raced;
  raced.module_answers_start = false;
  if (!start(raced)) GTEST_SKIP() << "127.0.0.2 cannot be bound here";
  tftp_state().start_wait_ms = 100;
  EXPECT_EQ(tftp_start(ui::no_window), 0);
  EXPECT_FALSE(tftp_state().socket_open);
  ASSERT_EQ(box_lines().size(), 1u);
  EXPECT_EQ(box_lines()[0],
            "Error: Windows Sockets error 0: Couldn't receive ACK for initial TFTP socket.\r\n");
  EXPECT_EQ(raced.rogue_packets(), 0);
}

TEST_F(ForeignPeer, AnotherHostCannotAnswerTheJump) {
  RacedModule raced;
  raced.module_answers_jump = false;
  if (!start(raced)) GTEST_SKIP() << "127.0.0.2 cannot be bound here";
  ASSERT_EQ(tftp_start(ui::no_window), 1);
  auto bytes = random_bytes(3000, 43);
  ASSERT_EQ(tftp_write(bytes.data(), 0, 3000), 1);
  close_on_virtual_clock();
  EXPECT_EQ(raced.jumps(), 1);
  ASSERT_EQ(box_lines().size(), 1u);
  EXPECT_EQ(box_lines()[0], "Error: Timeout waiting for EDBG_CMD_JUMPING ACK\r\n");
}

}  // namespace
}  // namespace dz::test
