// The TFTP client against a real server: tftpd-hpa refusing the block-size option answers with
// a plain acknowledgement from a new port and takes 512-byte blocks.
#include "ethernet_fixture.h"
#include "tftpd_peer.h"

namespace dz::test {
namespace {

class TftpdUpload : public EthernetTest {
 protected:
  void SetUp() override {
    EthernetTest::SetUp();
    if (!TftpdPeer::available())
      GTEST_SKIP() << "in.tftpd (Debian package tftpd-hpa) or the tftp user is missing";
    port_ = free_udp_port();
    ASSERT_TRUE(server_.start(port_)) << "in.tftpd did not start on port " << port_;
    BootmeInfo info = bootme_info_named("TFTPD");
    info.ip[0] = 127, info.ip[3] = 1;
    set_last_bootme(info);
  }
  void TearDown() override {
    unsetenv("DIVIDEZURIRER_TEST_MODULE_PORT");
    EthernetTest::TearDown();
  }

  void upload(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(tftp_start(ui::no_window), 1);
    EXPECT_EQ(tftp_state().block_size, 512u);
    EXPECT_NE(tftp_state().peer.port, port_);  // the server's transfer port
    tftp_send_pieces_and_finish(bytes);
    EXPECT_EQ(server_.read_uploaded(bytes.size()), bytes);
    EXPECT_TRUE(box_lines().empty());
  }

  TftpdPeer server_;
  std::uint16_t port_ = 0;
};

TEST_F(TftpdUpload, FileArrivesBitExactInNormalMode) {
  udp::set_edbg_ports(loader_port_, port_);
  upload(random_bytes(300 * 1024 + 123, 21));
}

TEST_F(TftpdUpload, MultipleOfBlockSizeEndsWithEmptyBlockInFastMode) {
  udp::set_edbg_ports(loader_port_, port_);
  fast_download = 1;
  upload(random_bytes(64 * 1024, 22));
}

TEST_F(TftpdUpload, ModulePortComesFromTheTestEnvironment) {
  udp::set_edbg_ports(0, 0);
  setenv("DIVIDEZURIRER_TEST_MODULE_PORT", std::to_string(port_).c_str(), 1);
  EXPECT_EQ(udp::module_port(), port_);
  upload(random_bytes(1000, 23));
}

TEST(EdbgPorts, UsersGet980AndBadValuesAreIgnored) {
  udp::set_edbg_ports(0, 0);
  unsetenv("DIVIDEZURIRER_TEST_BOOTME_PORT");
  EXPECT_EQ(udp::bootme_listen_port(), 980);
  for (const char* bad : {"", "0", "70000", "12x", "-5"}) {
    setenv("DIVIDEZURIRER_TEST_BOOTME_PORT", bad, 1);
    EXPECT_EQ(udp::bootme_listen_port(), 980) << bad;
  }
  setenv("DIVIDEZURIRER_TEST_BOOTME_PORT", "15980", 1);
  EXPECT_EQ(udp::bootme_listen_port(), 15980);
  unsetenv("DIVIDEZURIRER_TEST_BOOTME_PORT");
}

}  // namespace
}  // namespace dz::test
