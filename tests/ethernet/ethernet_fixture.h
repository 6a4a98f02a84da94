#pragma once
// Shared set-up of the Ethernet tests: a fresh discovery and transfer state, an in-memory
// settings store, the headless host with message boxes recorded, and simulated modules on
// loopback ports that the loader is pointed at.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "download/interface.h"
#include "ethernet/ethernet_download.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/net.h"
#include "platform/settings.h"
#include "platform/udp.h"
#include "platform/ui_headless.h"
#include "sim/ethernet_module.h"

namespace dz::test {

// A free loopback port (the loader's BOOTME port of one test).
inline std::uint16_t free_udp_port() {
  udp::Socket s = udp::Socket::create();
  if (!s || !s.bind(udp::Address{udp::loopback_ip, 0})) return 0;
  return s.local_address().port;
}

inline std::vector<std::uint8_t> random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

class EthernetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(net::startup());  // Windows Sockets, as program entry does
    clock::use_real_clock();
    settings::use_memory_store();
    ui::headless::reset();
    reset_device_list_state();
    reset_tftp_state();
    stop_flag = 0;
    abort_flag = 0;
    debug_echo_flag = 0;
    loader_port_ = free_udp_port();
    ASSERT_NE(loader_port_, 0);
    udp::set_edbg_ports(loader_port_, 0);
    ui::headless::set_answerer(
        [this](ui::Window, const std::string& text, const std::string& caption, unsigned) {
          std::lock_guard lock(mutex_);
          boxes_.push_back(caption + ": " + text);
          return ui::IDOK;
        });
    debug::set_sink([this](std::string_view line) {
      std::lock_guard lock(mutex_);
      debug_lines_.emplace_back(line);
    });
  }

  void TearDown() override {
    modules_.clear();
    reset_device_list_state();
    reset_tftp_state();
    udp::set_edbg_ports(0, 0);
    debug::set_sink(nullptr);
    ui::headless::reset();
    clock::use_real_clock();
    debug_echo_flag = 1;
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

  std::vector<std::string> boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }
  std::vector<std::string> debug_lines() {
    std::lock_guard lock(mutex_);
    return debug_lines_;
  }
  int count_lines(std::string_view text) {
    int n = 0;
    for (const auto& l : debug_lines())
      if (l.find(text) != std::string::npos) ++n;
    return n;
  }

  std::uint16_t loader_port_ = 0;
  std::vector<std::unique_ptr<sim::EthernetModule>> modules_;
  std::mutex mutex_;
  std::vector<std::string> boxes_;
  std::vector<std::string> debug_lines_;
};

}  // namespace dz::test
