// The real peers over remote_bitbang: dividezurirer-sim served to OpenOCD and to the loader's own
// remote_bitbang port backend.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "bscan/cpu.h"
#include "download/interface.h"
#include "platform/tcp.h"
#include "sim/jtag_module.h"
#include "tests/jtag/rig.h"
#include "tests/jtag/sim_server.h"
#include "tests/support/temp_dir.h"

namespace dz::test {
namespace {

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

// The exit status of dividezurirer-sim run with `args` (bounded by `timeout`).
int sim_exit_status(const std::string& args) {
  const int status =
      std::system(("timeout 10 " + sim_program + " " + args + " >/dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(RemoteBitbang, FlashFileIsCreatedErasedKeptAcrossRunsAndRefusedWhenItDoesNotFit) {
  std::string error;
  const auto module = sim::make_jtag_module("pxa270-j3x16", error);
  ASSERT_NE(module, nullptr) << error;
  const std::size_t size = module->flash_image_size();
  const std::string flash =
      ::testing::TempDir() + "dz_sim_flash_" + std::to_string(::getpid()) + ".bin";
  std::remove(flash.c_str());

  // A bare processor has no flash to keep.
  EXPECT_EQ(sim_exit_status("--cpu pxa270 --flash " + flash), 2);
  EXPECT_TRUE(file_bytes(flash).empty());
  {
    SimServer server("--model pxa270-j3x16 --flash " + flash);
    ASSERT_NE(server.port(), 0) << server.log();
  }
  std::vector<std::uint8_t> bytes = file_bytes(flash);
  ASSERT_EQ(bytes.size(), size);
  EXPECT_EQ(bytes, std::vector<std::uint8_t>(size, 0xFF));

  // What the file holds is loaded, and written back when the server stops.
  bytes[0] = 0x12;
  bytes[size - 1] = 0x34;
  write_file(flash, bytes);
  {
    SimServer server("--model pxa270-j3x16 --flash " + flash);
    ASSERT_NE(server.port(), 0) << server.log();
  }
  EXPECT_EQ(file_bytes(flash), bytes);

  // A file of another size is refused and left alone.
  bytes.pop_back();
  write_file(flash, bytes);
  EXPECT_EQ(sim_exit_status("--model pxa270-j3x16 --flash " + flash), 2);
  EXPECT_EQ(file_bytes(flash), bytes);
  std::remove(flash.c_str());
}

}  // namespace
}  // namespace dz::test
