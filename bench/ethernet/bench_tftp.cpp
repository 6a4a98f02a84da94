// P4: TFTP upload speed. (1) 16 MiB on loopback to tftpd-hpa refusing the block-size option, the
// loader in normal mode against the tftp-hpa client uploading the same file to the same server;
// (2) against the simulated module, FastDownload against normal mode.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>

#include "download/interface.h"
#include "ethernet/ethernet_download.h"
#include "platform/debug.h"
#include "sim/ethernet_module.h"
#include "tests/ethernet/tftpd_peer.h"
#include "tests/support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t free_port() {
  dz::udp::Socket s = dz::udp::Socket::create();
  s.bind(dz::udp::Address{dz::udp::loopback_ip, 0});
  return s.local_address().port;
}

// One loader upload of `bytes` to 127.0.0.1 at the module port; seconds, or -1 on failure.
double loader_upload(const std::vector<std::uint8_t>& bytes, bool fast) {
  dz::reset_tftp_state();
  dz::abort_flag = 0;
  dz::fast_download = fast ? 1 : 0;
  dz::BootmeInfo info = dz::bootme_info_named("BENCH");
  info.ip[0] = 127, info.ip[3] = 1;
  dz::set_last_bootme(info);
  auto start = Clock::now();
  if (!dz::tftp_start(dz::ui::no_window)) return -1;
  for (std::size_t done = 0; done < bytes.size(); done += 32768) {
    auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(32768, bytes.size() - done));
    if (!dz::tftp_write(bytes.data() + done, 0, piece)) return -1;
  }
  if (!dz::tftp_finish()) return -1;
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  dz::reset_tftp_state();
  return seconds;
}

void BM_P4_TftpdUpload16MiB(benchmark::State& state) {
  dz::debug_echo_flag = 0;
  if (!dz::test::TftpdPeer::available()) {
    state.SkipWithError("in.tftpd (tftpd-hpa) is not installed");
    return;
  }
  const auto bytes = dz::test::random_bytes(16u << 20, 1);
  dz::test::TftpdPeer server;
  std::uint16_t port = free_port();
  if (!server.start(port)) {
    state.SkipWithError("in.tftpd did not start");
    return;
  }
  std::string source = (server.dir().parent_path() / "dz_bench_upload.bin").string();
  dz::test::write_file(source, bytes);
  dz::udp::set_edbg_ports(0, port);
  double loader_total = 0, client_total = 0;
  for (auto _ : state) {
    double loader = loader_upload(bytes, false);
    if (loader < 0 || server.read_uploaded(bytes.size()) != bytes) {
      state.SkipWithError("loader upload failed");
      break;
    }
    std::filesystem::remove(server.uploaded());
    auto start = Clock::now();
    std::string command = "timeout 120 tftp -m binary 127.0.0.1 " + std::to_string(port) +
                          " -c put '" + source + "' boot.bin >/dev/null 2>&1";
    int rc = std::system(command.c_str());
    double client = std::chrono::duration<double>(Clock::now() - start).count();
    if (rc != 0 || server.read_uploaded(bytes.size()) != bytes) {
      state.SkipWithError("tftp client upload failed");
      break;
    }
    std::filesystem::remove(server.uploaded());
    state.SetIterationTime(loader);
    loader_total += loader;
    client_total += client;
  }
  std::filesystem::remove(source);
  dz::udp::set_edbg_ports(0, 0);
  double mib = 16.0 * state.iterations();
  state.counters["loader_MiB/s"] = loader_total > 0 ? mib / loader_total : 0;
  state.counters["tftp_client_MiB/s"] = client_total > 0 ? mib / client_total : 0;
  state.counters["loader/tftp"] = loader_total > 0 ? client_total / loader_total : 0;
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes.size()) * state.iterations());
}
BENCHMARK(BM_P4_TftpdUpload16MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// The simulated module answers after a one-way delay, as a module on a real network does; the
// windowed mode hides that delay.
void BM_P4_SimulatedModuleFastVsNormal(benchmark::State& state) {
  dz::debug_echo_flag = 0;
  const auto bytes = dz::test::random_bytes(4u << 20, 1);
  dz::sim::EthernetModuleConfig config;
  config.announce = false;
  config.latency_us = static_cast<std::uint32_t>(state.range(0));
  dz::sim::EthernetModule module(config);
  std::string error;
  if (!module.start(error)) {
    state.SkipWithError(error.c_str());
    return;
  }
  dz::udp::set_edbg_ports(0, module.port());
  double normal_total = 0, fast_total = 0;
  for (auto _ : state) {
    double normal = loader_upload(bytes, false);
    bool normal_ok = module.received_file() == bytes;
    double fast = loader_upload(bytes, true);
    bool fast_ok = module.received_file() == bytes;
    if (normal < 0 || fast < 0 || !normal_ok || !fast_ok) {
      state.SkipWithError("upload to the simulated module failed");
      break;
    }
    state.SetIterationTime(fast);
    normal_total += normal;
    fast_total += fast;
  }
  dz::udp::set_edbg_ports(0, 0);
  double mib = 4.0 * state.iterations();
  state.counters["normal_MiB/s"] = normal_total > 0 ? mib / normal_total : 0;
  state.counters["fast_MiB/s"] = fast_total > 0 ? mib / fast_total : 0;
  state.counters["fast/normal"] = fast_total > 0 ? normal_total / fast_total : 0;
}
BENCHMARK(BM_P4_SimulatedModuleFastVsNormal)
    ->Arg(500)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace
