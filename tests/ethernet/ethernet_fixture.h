#pragma once
// The Ethernet tests on the shared fixture, on real time (socket waits), with simulated modules on
// loopback ports that the loader is pointed at.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "download/interface.h"
#include "ethernet/ethernet_download.h"
#include "ethernet/tftp.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/net.h"
#include "platform/settings.h"
#include "platform/thread.h"
#include "platform/udp.h"
#include "platform/ui_headless.h"
#include "sim/ethernet_module.h"
#include "tests/support/host_fixture.h"

namespace dz::test {

// A free loopback port (the loader's BOOTME port of one test).
inline std::uint16_t free_udp_port() {
  udp::Socket s = udp::Socket::create();
  if (!s || !s.bind(udp::Address{udp::loopback_ip, 0})) return 0;
  return s.local_address().port;
}

// Closes the connection on the virtual clock: virtual time runs while close waits on its socket
// in 100 ms steps of real time, so the jump's long timeout passes at once.
inline void close_on_virtual_clock() {
  clock::use_virtual_clock();
  std::atomic<int> closed{0};
  auto closer = threads::Thread::start([&] {
    ethernet_close();
    closed = 1;
  });
  while (closed.load() == 0) {
    clock::advance_us(20'000'000);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  closer.join();
}

// The rest of a transfer the client has started, as a download job sends it: 32 KiB pieces, then
// the final block; the client's state is reset for the next transfer.
inline void tftp_send_pieces_and_finish(const std::vector<std::uint8_t>& bytes) {
  for (std::size_t done = 0; done < bytes.size(); done += 32768) {
    auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(32768, bytes.size() - done));
    ASSERT_EQ(tftp_write(bytes.data() + done, 0, piece), 1);
  }
  EXPECT_EQ(tftp_finish(), 1);
  reset_tftp_state();
}

class EthernetTest : public HostTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net::startup());  // Windows Sockets, as program entry does
    HostTest::SetUp();
    clock::use_real_clock();  // socket waits run on real time
    debug_echo_flag = 0;
    loader_port_ = free_udp_port();
    ASSERT_NE(loader_port_, 0);
    udp::set_edbg_ports(loader_port_, 0);
  }

  void TearDown() override {
    modules_.clear();
    HostTest::TearDown();
    net::cleanup();
  }

  // Starts a module that announces to this test's loader port; the loader's TFTP goes to the
  // module started last.
  sim::EthernetModule& start_module(sim::EthernetModuleConfig config = {}) {
    config.loader_port = loader_port_;
    if (config.bootme_interval_ms == 200) config.bootme_interval_ms = 20;
    modules_.push_back(std::make_unique<sim::EthernetModule>(config));
    std::string error;
    EXPECT_TRUE(modules_.back()->start(error)) << error;
    udp::set_edbg_ports(loader_port_, modules_.back()->port());
    return *modules_.back();
  }

  std::uint16_t loader_port_ = 0;
  std::vector<std::unique_ptr<sim::EthernetModule>> modules_;
};

}  // namespace dz::test
