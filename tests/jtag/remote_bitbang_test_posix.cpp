// The real peers over remote_bitbang: dividezurirer-sim served to OpenOCD and to the loader's own
// remote_bitbang port backend.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "bscan/cpu.h"
#include "download/interface.h"
#include "platform/tcp.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

const std::string sim_program = std::string(DZ_BINARY_DIR) + "/sim/programs/dividezurirer-sim";

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// dividezurirer-sim running in the background (bounded by `timeout`), stopped with 'Q'.
class SimServer {
 public:
  explicit SimServer(const std::string& args) {
    static int counter = 0;
    dir_ = ::testing::TempDir() + "dzsim" + std::to_string(++counter) + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    port_file_ = dir_ + ".port";
    const std::string command = "timeout 60 " + sim_program + " " + args + " --port-file " +
                                port_file_ + " > " + dir_ + ".log 2>&1 &";
    if (std::system(command.c_str()) != 0) return;
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      const std::string text = read_file(port_file_);
      if (!text.empty()) port_ = static_cast<std::uint16_t>(std::stoi(text));
    }
  }
  ~SimServer() { stop(); }
  void stop() {
    if (port_ == 0) return;
    std::string error;
    tcp::Stream s = tcp::connect("127.0.0.1", port_, error);
    const std::uint8_t q = 'Q';
    if (s) s.write_all(&q, 1);
    s.close();
    // Wait until the server has gone and refuses connections.
    for (int i = 0; i < 200; ++i) {
      tcp::Stream probe = tcp::connect("127.0.0.1", port_, error);
      if (!probe) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    port_ = 0;
  }
  std::uint16_t port() const { return port_; }
  std::string log() const { return read_file(dir_ + ".log"); }

 private:
  std::string dir_, port_file_;
  std::uint16_t port_ = 0;
};

TEST(RemoteBitbang, LoaderIdentifiesTheServedProcessorOnEveryCableKind) {
  SimServer server("--cpu pxa270");
  ASSERT_NE(server.port(), 0) << server.log();
  for (std::uint32_t kind = 0; kind < 4; ++kind) {
    reset_cable_state(kind);
    port_io::set_port_override("remote:127.0.0.1:" + std::to_string(server.port()));
    ASSERT_EQ(jtag_open_cable(), 1) << kind;
    ASSERT_EQ(jtag_reset_tap(1), 1);
    target_description_clear();
    ASSERT_EQ(cpu_identify(), 1u) << "kind " << kind;
    EXPECT_EQ(cpu_type, 2u);
    EXPECT_EQ(jtag_ir_length, 7u);
    EXPECT_EQ(target_description(), "Intel PXA270  Stepping B0\r\n");
    EXPECT_EQ(jtag_close_cable(), 1);
  }
  reset_cable_state(0);
}

TEST(RemoteBitbang, LoaderSeesAnotherSteppingAndAnEmptyChain) {
  SimServer server("--cpu pxa310 --idcode 5E649027");
  ASSERT_NE(server.port(), 0) << server.log();
  reset_cable_state(2);
  port_io::set_port_override("remote:localhost:" + std::to_string(server.port()));
  ASSERT_EQ(jtag_open_cable(), 1);
  jtag_reset_tap(1);
  target_description_clear();
  ASSERT_EQ(cpu_identify(), 1u);
  EXPECT_EQ(cpu_type, 5u);
  EXPECT_EQ(target_description(), "PXA310  Stepping B1\r\n");
  jtag_close_cable();
  server.stop();
  // Nobody listens any more: opening fails with the port-access message.
  BoxRecorder boxes;
  EXPECT_EQ(jtag_open_cable(), 0);
  EXPECT_EQ(boxes.boxes.size(), 1u);
  reset_cable_state(0);
}

TEST(RemoteBitbang, OpenOcdFindsThePxa270AndReadsItsIdcode) {
  if (std::system("command -v openocd > /dev/null 2>&1") != 0) GTEST_SKIP() << "openocd missing";
  SimServer server("--cpu pxa270");
  ASSERT_NE(server.port(), 0) << server.log();
  const std::string base = ::testing::TempDir() + "dz_openocd_" + std::to_string(server.port());
  {
    std::ofstream cfg(base + ".cfg");
    cfg << "adapter driver remote_bitbang\n"
        << "remote_bitbang host 127.0.0.1\n"
        << "remote_bitbang port " << server.port() << "\n"
        << "jtag newtap pxa270 cpu -irlen 7 -expected-id 0x29265013\n";
  }
  const std::string command =
      "timeout 30 openocd -f " + base +
      ".cfg -c init -c scan_chain -c 'irscan pxa270.cpu 0x7e' "
      "-c 'echo \"IDCODE=[drscan pxa270.cpu 32 0]\"' -c 'irscan pxa270.cpu "
      "0x7f' -c 'echo \"BYPASS=[drscan pxa270.cpu 8 0xff]\"' -c shutdown > " +
      base + ".out 2>&1";
  const int status = std::system(command.c_str());
  const std::string out = read_file(base + ".out");
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("tap/device found: 0x29265013"), std::string::npos) << out;
  EXPECT_NE(out.find("pxa270.cpu             Y     0x29265013 0x29265013     7"), std::string::npos)
      << out;
  EXPECT_NE(out.find("IDCODE=29265013"), std::string::npos) << out;
  EXPECT_NE(out.find("BYPASS=fe"), std::string::npos) << out;
}

}  // namespace
}  // namespace dz::test
