// P1: boundary scans per 16-bit word of a buffered write, counted at the simulated TAP.
// P3: nand_page_ecc throughput against the bit-by-bit reference.
// P5 / B3: the whole job "256 KiB bootloader into pxa270-j3x16 with verify over the simulated
//     parallel cable" on the virtual clock, in wall time and process CPU time.
// B1: the virtual cable time of that job (and of the same into pxa270-p30x16) in normal and in
//     fast mode, side by side.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "bench/support/strata_bench.h"
#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "download/interface.h"
#include "download/job.h"
#include "download/options.h"
#include "flash/nand_ecc.h"
#include "flash/strata_flash.h"
#include "jtag/cable.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/ui_headless.h"
#include "sim/jtag_module.h"
#include "tests/flash/ecc_reference.h"
#include "tests/image/image_builder.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace dz;

// One 2 KiB page through `ecc`: the table-driven code or the bit-by-bit reference.
void page_ecc(benchmark::State& state, void (*ecc)(const std::uint8_t*, std::uint8_t*)) {
  const auto page = test::random_bytes(2048, 1);
  std::uint8_t code[24];
  for (auto _ : state) {
    ecc(page.data(), code);
    benchmark::DoNotOptimize(code);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 2048);
}
BENCHMARK_CAPTURE(page_ecc, nand_page_ecc, nand_page_ecc);
BENCHMARK_CAPTURE(page_ecc, reference, testing::page_ecc_reference);

// Scans per programmed word: a 64 KiB buffered write into a freshly erased module, in normal
// mode (range 0) or fast mode (range 1).
void scans_per_word(benchmark::State& state, const char* model) {
  jtag_fast_programming = static_cast<std::uint32_t>(state.range(0));
  clock::use_virtual_clock();
  debug_echo_flag = 0;
  std::string error;
  auto module = sim::make_jtag_module(model, error);
  module->install();
  jtag_interface = 0;
  bench::probe_strata_over_jtag();
  const std::uint32_t bytes = 0x10000;
  auto data = test::random_bytes(bytes, 1);
  double per_word = 0;
  for (auto _ : state) {
    state.PauseTiming();
    strata_erase(0, bytes);
    const auto before = module->cpu().tap().boundary_updates();
    state.ResumeTiming();
    strata_write_buffer(data.data(), 0, bytes);
    per_word = double(module->cpu().tap().boundary_updates() - before) / (bytes / 2);
  }
  state.counters["scans_per_word"] = per_word;
  jtag_close_cable();
  module.reset();
  jtag_fast_programming = 0;
  clock::use_real_clock();
}
BENCHMARK_CAPTURE(scans_per_word, p30x16, "pxa270-p30x16")
    ->ArgName("fast")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(scans_per_word, j3x16, "pxa270-j3x16")
    ->ArgName("fast")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The 256 KiB bootloader with verify into `model` through the whole job; the virtual seconds
// of cable time, or a negative number when the job failed.
double bootloader_job_virtual_s(const char* model, const std::string& path, std::uint32_t start,
                                std::uint32_t length, bool fast, double& scans) {
  clock::use_virtual_clock();
  std::string error;
  auto module = sim::make_jtag_module(model, error);
  module->install();
  jtag_interface = 0;
  reset_options_state();
  verify_after_write = 1;
  jtag_fast_programming = fast ? 1 : 0;
  const int result =
      start_download_job(ui::no_window, jtag_interface_index, path, 0, start, length, 1);
  const double seconds = double(clock::now_us()) / 1e6;
  scans = double(module->cpu().tap().boundary_updates());
  module.reset();
  jtag_fast_programming = 0;
  clock::use_real_clock();
  return result == 1 ? seconds : -1;
}

// B1: cable time of the same job in normal and in fast mode, side by side.
void cable_time_normal_vs_fast(benchmark::State& state, const char* model) {
  debug_echo_flag = 0;
  const bench::SampleBootloader sample;
  const std::uint32_t start = sample.start, length = sample.length;
  const auto& path = sample.path;
  for (auto _ : state) {
    double normal_scans = 0, fast_scans = 0;
    const double normal = bootloader_job_virtual_s(model, path, start, length, false, normal_scans);
    const double fast = bootloader_job_virtual_s(model, path, start, length, true, fast_scans);
    if (normal < 0 || fast < 0) state.SkipWithError("the job failed");
    state.counters["normal_virtual_s"] = normal;
    state.counters["fast_virtual_s"] = fast;
    state.counters["speedup"] = fast > 0 ? normal / fast : 0;
    state.counters["normal_scans"] = normal_scans;
    state.counters["fast_scans"] = fast_scans;
  }
}
BENCHMARK_CAPTURE(cable_time_normal_vs_fast, j3x16, "pxa270-j3x16")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(cable_time_normal_vs_fast, p30x16, "pxa270-p30x16")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_bootloader_job_j3x16(benchmark::State& state) {
  clock::use_virtual_clock();
  debug_echo_flag = 0;
  const bench::SampleBootloader sample;
  const std::uint32_t start = sample.start, length = sample.length;
  const auto& path = sample.path;
  for (auto _ : state) {
    state.PauseTiming();
    std::string error;
    auto module = sim::make_jtag_module("pxa270-j3x16", error);
    module->install();
    jtag_interface = 0;
    reset_options_state();
    verify_after_write = 1;
    state.ResumeTiming();
    const int result =
        start_download_job(ui::no_window, jtag_interface_index, path, 0, start, length, 1);
    state.PauseTiming();
    if (result != 1) state.SkipWithError("the job failed");
    state.counters["virtual_s"] = double(clock::now_us()) / 1e6;
    state.counters["scans"] = double(module->cpu().tap().boundary_updates());
    module.reset();
    state.ResumeTiming();
  }
  clock::use_real_clock();
}
// B3: wall time of the demo job in normal mode; the process CPU time beside it tells how much of
// the wall time the machine gave to other work.
BENCHMARK(BM_bootloader_job_j3x16)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
