// The USB adapter path on the simulated FTDI adapter:
// - USB transfers per 1 KiB programmed into pxa270-j3x16 (write-only scans batched), beside the
//   buffer programs and status reads that 1 KiB takes, and the bytes sent per boundary scan
//   against the scan's bits / 8;
// - the virtual time of the 256 KiB bootloader with Verify into pxa270-j3x16 over a simulated
//   FT2232H and FT2232C at 6 MHz, beside the parallel cable's.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/support/strata_bench.h"
#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "download/interface.h"
#include "download/job.h"
#include "download/options.h"
#include "flash/strata_flash.h"
#include "jtag/cable.h"
#include "jtag/usb_adapter.h"
#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/ftdi.h"
#include "platform/port_io.h"
#include "sim/ftdi_adapter.h"
#include "sim/jtag_module.h"
#include "tests/image/image_builder.h"

namespace {

using namespace dz;

void BM_usb_transfers_per_kib(benchmark::State& state) {
  clock::use_virtual_clock();
  debug_echo_flag = 0;
  std::string error;
  auto module = sim::make_jtag_module("pxa270-j3x16", error);
  sim::FtdiAdapterSim adapter(module->cpu(), *ftdi::find_adapter_model("jtagkey-2"));
  adapter.install();
  jtag_interface = adapter_number(AdapterKind::usb_amontec);
  jtag_speed_hz = 6000000;
  bench::probe_strata_over_jtag();
  const std::uint32_t bytes = 0x10000;
  auto data = test::random_bytes(bytes, 1);
  const std::uint32_t boundary_bits = module->cpu().info().boundary_length;
  auto* bank = module->strata_banks()[0];
  for (auto _ : state) {
    state.PauseTiming();
    strata_erase(0, bytes);
    const auto out0 = adapter.transfers_out(), in0 = adapter.transfers_in();
    const auto bytes0 = adapter.bytes_out();
    const auto scans0 = module->cpu().tap().boundary_updates();
    const auto programs0 = bank->program_word_counts().size();
    state.ResumeTiming();
    strata_write_buffer(data.data(), 0, bytes);
    state.PauseTiming();
    const double kib = bytes / 1024.0;
    const double scans = double(module->cpu().tap().boundary_updates() - scans0);
    state.counters["out_per_KiB"] = double(adapter.transfers_out() - out0) / kib;
    state.counters["in_per_KiB"] = double(adapter.transfers_in() - in0) / kib;
    state.counters["programs_per_KiB"] =
        double(bank->program_word_counts().size() - programs0) / kib;
    state.counters["bytes_per_scan"] = double(adapter.bytes_out() - bytes0) / scans;
    state.counters["scan_bits_div_8"] = boundary_bits / 8.0;
    state.ResumeTiming();
  }
  jtag_close_cable();
  adapter.uninstall();
  clock::use_real_clock();
}
BENCHMARK(BM_usb_transfers_per_kib)->Iterations(1)->Unit(benchmark::kMillisecond);

// The 256 KiB sample bootloader with Verify; `adapter_key` null = the Belvona parallel cable.
void bootloader_job(benchmark::State& state, const char* adapter_key) {
  clock::use_virtual_clock();
  debug_echo_flag = 0;
  const bench::SampleBootloader sample;
  const std::uint32_t start = sample.start, length = sample.length;
  const auto& data = sample.data;
  const auto& path = sample.path;
  for (auto _ : state) {
    state.PauseTiming();
    std::string error;
    auto module = sim::make_jtag_module("pxa270-j3x16", error);
    std::unique_ptr<sim::FtdiAdapterSim> adapter;
    reset_options_state();
    if (adapter_key) {
      adapter = std::make_unique<sim::FtdiAdapterSim>(module->cpu(),
                                                      *ftdi::find_adapter_model(adapter_key));
      adapter->install();
      jtag_interface = adapter_number(AdapterKind::usb_amontec);
      jtag_speed_hz = 6000000;
    } else {
      module->install();
      jtag_interface = 0;
    }
    verify_after_write = 1;
    const std::uint64_t t0 = clock::now_us();
    state.ResumeTiming();
    const int result =
        start_download_job(ui::no_window, jtag_interface_index, path, 0, start, length, 1);
    state.PauseTiming();
    if (result != 1) state.SkipWithError("the job failed");
    const auto& flash = module->strata_banks()[0]->contents();
    if (!std::equal(data.begin(), data.end(), flash.begin())) state.SkipWithError("flash differs");
    state.counters["virtual_s"] = double(clock::now_us() - t0) / 1e6;
    if (adapter) {
      state.counters["usb_out"] = double(adapter->transfers_out());
      state.counters["usb_in"] = double(adapter->transfers_in());
      adapter->uninstall();
    }
    port_io::release();
    module.reset();
    state.ResumeTiming();
  }
  clock::use_real_clock();
}
BENCHMARK_CAPTURE(bootloader_job, ft2232h_6mhz, "jtagkey-2")
    ->Iterations(1)
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(bootloader_job, ft2232c_6mhz, "jtagkey")->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(bootloader_job, parallel_belvona, nullptr)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
