// The Windows TFTP client against native Linux peers beside Wine (cmake/wine-with-peer.sh): a
// real tftpd-hpa server (cmake/tftpd-peer.sh: DZ_PEER_PORT, DZ_PEER_DIR), and a simulated module
// that stops acknowledging at the very end (dividezurirer-sim: DZ_PEER_MODULE_PORT). Each test
// skips when its peer is not there.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/ethernet/ethernet_fixture.h"
#include "tests/support/temp_dir.h"

namespace dz::test {
namespace {

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

void announce_loopback_module(const char* name) {
  BootmeInfo info = bootme_info_named(name);
  info.ip[0] = 127, info.ip[1] = 0, info.ip[2] = 0, info.ip[3] = 1;
  set_last_bootme(info);
}

// tftpd-hpa refusing the block-size option: a plain acknowledgement of block 0, from a new port
// (its transfer id), and 512-byte blocks.
class TftpdPeerUpload : public EthernetTest {
 protected:
  void SetUp() override {
    EthernetTest::SetUp();
    if (!environment("DZ_PEER_UNAVAILABLE").empty())
      GTEST_SKIP() << "in.tftpd (Debian package tftpd-hpa) or the tftp user is missing";
    if (environment("DZ_PEER_PORT").empty() || environment("DZ_PEER_DIR").empty())
      GTEST_SKIP() << "runs beside cmake/tftpd-peer.sh";
    port_ = static_cast<std::uint16_t>(std::atoi(environment("DZ_PEER_PORT").c_str()));
    // The served folder is a Linux path; Wine's drive Z: is the Linux root.
    uploaded_ = std::filesystem::path("Z:" + environment("DZ_PEER_DIR")) / "boot.bin";
    announce_loopback_module("TFTPD");
  }

  void upload(const std::vector<std::uint8_t>& bytes) {
    std::error_code ec;
    std::filesystem::remove(uploaded_, ec);
    ASSERT_EQ(tftp_start(ui::no_window), 1);
    EXPECT_EQ(tftp_state().block_size, 512u);
    EXPECT_NE(tftp_state().peer.port, port_);  // the server's transfer port
    tftp_send_pieces_and_finish(bytes);
    // The server writes the file behind its acknowledgements; wait until it is all there.
    for (int i = 0; i < 500; ++i) {
      if (std::filesystem::exists(uploaded_, ec) &&
          std::filesystem::file_size(uploaded_, ec) >= bytes.size())
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(test::read_bytes(uploaded_.string()) == bytes)
        << "upload differs, " << bytes.size() << " bytes";
    EXPECT_TRUE(box_lines().empty()) << box_lines().front();
  }

  std::uint16_t port_ = 0;
  std::filesystem::path uploaded_;
};

TEST_F(TftpdPeerUpload, NormalAndFastUploadsArriveBitExact) {
  // The module's port from the test environment, as the program reads it under Windows.
  udp::set_edbg_ports(0, 0);
  ASSERT_EQ(_putenv_s("DIVIDEZURIRER_TEST_MODULE_PORT", environment("DZ_PEER_PORT").c_str()), 0);
  EXPECT_EQ(udp::module_port(), port_);
  upload(random_bytes(300 * 1024 + 123, 21));
  // A multiple of the block size ends with an empty block.
  fast_download = 1;
  upload(random_bytes(64 * 1024, 22));
  ASSERT_EQ(_putenv_s("DIVIDEZURIRER_TEST_MODULE_PORT", ""), 0);
}

// The module takes every block but never acknowledges the final one, the empty block that close
// sends after 20 full ones: close fails after the resends, in both modes, without the jump.
TEST_F(EthernetTest, NativeModuleSilentAtTheVeryEndFailsTheTransfer) {
  const std::string module_port = environment("DZ_PEER_MODULE_PORT");
  if (module_port.empty()) GTEST_SKIP() << "runs beside dividezurirer-sim --target";
  udp::set_edbg_ports(loader_port_, static_cast<std::uint16_t>(std::atoi(module_port.c_str())));
  announce_loopback_module("SILENT");
  const auto bytes = random_bytes(20 * 1024, 41);
  for (int fast : {0, 1}) {
    SCOPED_TRACE(fast);
    clear_boxes();
    const int timeouts_before = count_lines("Timeout waiting for ACK (21)");
    fast_download = fast;
    ASSERT_EQ(tftp_start(ui::no_window), 1);
    tftp_state().ack_wait_ms = 50;
    EXPECT_EQ(tftp_write(bytes.data(), 0, static_cast<std::uint32_t>(bytes.size())), 1);
    EXPECT_EQ(ethernet_close(), 0);
    ASSERT_FALSE(box_lines().empty());
    EXPECT_EQ(box_lines().back(),
              "Error: Maximum retries reached when trying to send packed 21\r\n");
    EXPECT_EQ(count_lines("Timeout waiting for ACK (21)") - timeouts_before, tftp_max_resends + 1);
    EXPECT_FALSE(tftp_state().socket_open);
    reset_tftp_state();
  }
}

}  // namespace
}  // namespace dz::test
