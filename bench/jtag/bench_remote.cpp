// B2: data scans per second over remote_bitbang against one dividezurirer-sim server, the
// loader's own client and OpenOCD's side by side in the same run. Both shift the same scans: 32
// bits of the PXA270's IDCODE register, captured.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "bscan/cpu.h"
#include "jtag/cable.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/port_io.h"
#include "platform/tcp.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// dividezurirer-sim in the background for at most two minutes, stopped with 'Q'.
class Server {
 public:
  explicit Server(const std::string& base) {
    const std::string port_file = base + ".port";
    std::remove(port_file.c_str());
    const std::string command = "timeout 120 " + std::string(DZ_BINARY_DIR) +
                                "/sim/programs/dividezurirer-sim --cpu pxa270 --port-file " +
                                port_file + " > " + base + ".log 2>&1 &";
    if (std::system(command.c_str()) != 0) return;
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      const std::string text = read_file(port_file);
      if (!text.empty()) port_ = static_cast<std::uint16_t>(std::stoi(text));
    }
  }
  ~Server() {
    if (port_ == 0) return;
    std::string error;
    dz::tcp::Stream s = dz::tcp::connect("127.0.0.1", port_, error);
    const std::uint8_t q = 'Q';
    if (s) s.write_all(&q, 1);
  }
  std::uint16_t port() const { return port_; }

 private:
  std::uint16_t port_ = 0;
};

constexpr int scan_count = 3000;

// The loader's client: scans per second, or 0 when the IDCODE did not come back.
double loader_scans_per_s(std::uint16_t port) {
  dz::debug_echo_flag = 0;
  dz::clock::use_real_clock();
  dz::jtag_interface = 0;
  dz::port_io::set_port_override("remote:127.0.0.1:" + std::to_string(port));
  if (dz::jtag_open_cable(0) != 1) return 0;
  dz::jtag_reset_tap(0);
  std::uint32_t code = 0;
  bool right = true;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < scan_count; ++i) {
    dz::jtag_scan_dr(nullptr, &code, 32);
    right = right && code == 0x29265013;
  }
  const auto t1 = std::chrono::steady_clock::now();
  dz::jtag_close_cable();
  dz::port_io::set_port_override("");
  if (!right) return 0;
  return scan_count / std::chrono::duration<double>(t1 - t0).count();
}

// OpenOCD's client, timed inside OpenOCD around the same loop; 0 when it could not run.
double openocd_scans_per_s(std::uint16_t port, const std::string& base) {
  if (std::system("command -v openocd > /dev/null 2>&1") != 0) return 0;
  {
    std::ofstream cfg(base + ".cfg");
    cfg << "adapter driver remote_bitbang\n"
        << "remote_bitbang host 127.0.0.1\n"
        << "remote_bitbang port " << port << "\n"
        << "jtag newtap pxa270 cpu -irlen 7 -expected-id 0x29265013\n"
        << "init\n"
        << "irscan pxa270.cpu 0x7e\n"
        << "set t0 [clock microseconds]\n"
        << "for {set i 0} {$i < " << scan_count << "} {incr i} { drscan pxa270.cpu 32 0 }\n"
        << "set t1 [clock microseconds]\n"
        << "echo \"DZ_SCAN_US=[expr {$t1 - $t0}] DZ_LAST=[drscan pxa270.cpu 32 0]\"\n"
        << "shutdown\n";
  }
  const std::string out_path = base + ".openocd";
  const int status =
      std::system(("timeout 100 openocd -f " + base + ".cfg > " + out_path + " 2>&1").c_str());
  const std::string out = read_file(out_path);
  const auto at = out.find("DZ_SCAN_US=");
  if (status != 0 || at == std::string::npos || out.find("DZ_LAST=29265013") == std::string::npos)
    return 0;
  const double us = std::stod(out.substr(at + 11));
  return us > 0 ? scan_count * 1e6 / us : 0;
}

void BM_RemoteBitbangScansLoaderVsOpenOcd(benchmark::State& state) {
  const std::string base =
      "/tmp/dz_bench_remote_" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  for (auto _ : state) {
    Server server(base);
    if (server.port() == 0) {
      state.SkipWithError("dividezurirer-sim did not start");
      break;
    }
    const double ours = loader_scans_per_s(server.port());
    const double theirs = openocd_scans_per_s(server.port(), base);
    if (ours == 0) state.SkipWithError("the loader's client did not read the IDCODE");
    state.counters["loader_scans_per_s"] = ours;
    state.counters["openocd_scans_per_s"] = theirs;
    state.counters["loader_vs_openocd"] = theirs > 0 ? ours / theirs : 0;
  }
}
BENCHMARK(BM_RemoteBitbangScansLoaderVsOpenOcd)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
