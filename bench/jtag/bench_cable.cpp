// Cost of the parallel cable clock cycle on a null port (our own code per cycle), and of a full
// boundary scan through the simulated parallel port and TAP.
#include <benchmark/benchmark.h>

#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "jtag/cable.h"
#include "platform/clock.h"
#include "platform/port_io.h"
#include "sim/parallel_port.h"
#include "sim/pxa.h"

namespace {

// A port that does nothing, as cheaply as a backend can: the cycle's cost is our own code.
class NullPort final : public dz::port_io::Backend {
 public:
  void write(std::uint16_t, std::uint8_t value) override { benchmark::DoNotOptimize(value); }
  std::uint8_t read(std::uint16_t) override { return 0; }
};

// One clock cycle with TDO sampled (two writes, one read), as a data scan's payload bit.
void BM_ClockCycleSampledNullPort(benchmark::State& state) {
  NullPort port;
  dz::port_io::use_backend(&port);
  dz::jtag_interface = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(dz::jtag_clock_bit(1, 0, 1));
  dz::port_io::use_backend(nullptr);
}
BENCHMARK(BM_ClockCycleSampledNullPort)->DenseRange(0, 3);

// A 504-bit data scan on a null port, reported per payload bit.
void BM_DataScan504NullPort(benchmark::State& state) {
  NullPort port;
  dz::port_io::use_backend(&port);
  dz::jtag_interface = 0;
  std::uint32_t words[16] = {0x12345678};
  for (auto _ : state) dz::jtag_scan_dr(words, words, 504);
  state.SetItemsProcessed(state.iterations() * 504);
  dz::port_io::use_backend(nullptr);
}
BENCHMARK(BM_DataScan504NullPort);

// A 504-bit scan through the simulated parallel cable into the PXA270's boundary register in
// EXTEST, with capture, reported per TCK cycle.
void BM_BoundaryScanSimulatedPxa270(benchmark::State& state) {
  dz::clock::use_virtual_clock();
  dz::sim::Pxa cpu(dz::sim::CpuModel::pxa270);
  dz::sim::ParallelPortSim port(cpu, 0);
  dz::port_io::set_simulated_port(&port);
  dz::jtag_interface = 0;
  dz::jtag_open_cable();
  dz::jtag_reset_tap(1);
  dz::cpu_identify();
  dz::bs_start();
  const std::uint64_t cycles0 = cpu.tap().tck_cycles();
  for (auto _ : state) dz::bs_scan(state.range(0) != 0);
  state.SetItemsProcessed(static_cast<std::int64_t>(cpu.tap().tck_cycles() - cycles0));
  dz::jtag_close_cable();
  dz::port_io::set_simulated_port(nullptr);
}
BENCHMARK(BM_BoundaryScanSimulatedPxa270)->Arg(0)->Arg(1);

}  // namespace
