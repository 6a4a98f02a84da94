// Fast programming in the cable layer: scans whose captured bits nobody takes read no TDO,
// sampled scans read only the marked bits, and a backend that batches reads sees the same
// accesses in the same order as one that answers at once.
#include <gtest/gtest.h>

#include "jtag/cable.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

// Records every access; the n-th status read answers bit 7 = bit n of `pattern` (Belvona reads
// TDO as NOT S7), so captured words show which reads went where. With `batch` set, reads are
// queued and answered only when the cable layer takes them.
class PatternPort final : public port_io::Backend {
 public:
  explicit PatternPort(bool batch) : batch_(batch) {}
  void write(std::uint16_t address, std::uint8_t value) override {
    log.push_back({'w', address, value});
  }
  std::uint8_t read(std::uint16_t address) override {
    const std::uint8_t status = next_status();
    log.push_back({'r', address, status});
    return status;
  }
  bool batches_reads() const override { return batch_; }
  void read_later(std::uint16_t address) override {
    const std::uint8_t status = next_status();
    log.push_back({'r', address, status});
    queued.push_back(status);
  }
  void take_reads(std::uint8_t* values, std::size_t count) override {
    ASSERT_EQ(count, queued.size());
    std::copy(queued.begin(), queued.end(), values);
    queued.clear();
    ++takes;
  }
  std::size_t reads() const {
    std::size_t n = 0;
    for (const auto& a : log) n += a.op == 'r';
    return n;
  }
  std::vector<Access> log;
  std::vector<std::uint8_t> queued;
  std::uint64_t pattern = 0x0123456789ABCDEFull;
  int takes = 0;

 private:
  std::uint8_t next_status() {
    const bool tdo = (pattern >> (served_++ % 64)) & 1;
    return tdo ? 0x00 : 0x80;
  }
  bool batch_;
  std::uint32_t served_ = 0;
};

struct Capture {
  std::vector<Access> log;
  std::uint32_t words[3] = {0xAAAAAAAA, 0xAAAAAAAA, 0xAAAAAAAA};
};

// Runs `scan` on a fresh pattern port of Belvona in the given mode.
template <class Scan>
Capture run(bool batch, bool fast, Scan scan) {
  reset_cable_state(0);
  jtag_fast_programming = fast ? 1 : 0;
  PatternPort port(batch);
  port_io::use_backend(&port);
  Capture c;
  scan(c.words);
  port_io::use_backend(nullptr);
  jtag_fast_programming = 0;
  c.log = port.log;
  EXPECT_TRUE(port.queued.empty());
  return c;
}

TEST(FastCable, ScansWithoutCaptureReadNothingInFastModeOnly) {
  const std::uint32_t in[2] = {0x89ABCDEF, 0x5};
  const auto scan = [&](std::uint32_t*) { jtag_scan_dr(in, nullptr, 35); };
  const Capture normal = run(false, false, scan);
  const Capture fast = run(false, true, scan);
  std::vector<Access> normal_writes;
  for (const auto& a : normal.log)
    if (a.op == 'w') normal_writes.push_back(a);
  EXPECT_EQ(normal.log.size(), 2u * (3 + 35 + 2) + 35);
  EXPECT_EQ(fast.log, normal_writes);  // the same clocks, no status reads
  // With a capture buffer fast mode reads every bit, as normal mode does.
  const auto capture = [&](std::uint32_t* out) { jtag_scan_dr(in, out, 35); };
  const Capture a = run(false, false, capture), b = run(false, true, capture);
  EXPECT_EQ(a.log, b.log);
  EXPECT_EQ(a.words[0], b.words[0]);
  EXPECT_EQ(a.words[1], b.words[1]);
}

TEST(FastCable, SampledScanReadsOnlyTheMarkedBitsAndStoresOnesElsewhere) {
  const std::uint32_t in[2] = {0, 0};
  const std::uint32_t mask[2] = {0x80000001, 0x2};  // bits 0, 31 and 33
  for (bool batch : {false, true}) {
    const Capture c =
        run(batch, true, [&](std::uint32_t* out) { jtag_scan_dr_sampled(in, out, 40, mask); });
    // Reads come right after the falling edge of bits 0, 31 and 33: writes 3 + bit before them.
    std::vector<std::size_t> read_after_writes;
    std::size_t writes = 0;
    for (const auto& a : c.log) {
      if (a.op == 'w') ++writes;
      if (a.op == 'r') read_after_writes.push_back(writes);
    }
    EXPECT_EQ(read_after_writes, (std::vector<std::size_t>{2 * 3 + 1, 2 * 34 + 1, 2 * 36 + 1}))
        << batch;
    // The pattern's bits 0, 1, 2 (1, 1, 1 of 0x...EF) land in bits 0, 31 and 33; all else is 1.
    EXPECT_EQ(c.words[0], 0xFFFFFFFFu) << batch;
    EXPECT_EQ(c.words[1], 0xFFu) << batch;
  }
  // A pattern of zeros shows that the marked bits carry the read values.
  reset_cable_state(0);
  PatternPort port(false);
  port.pattern = 0;
  port_io::use_backend(&port);
  std::uint32_t out[2] = {};
  jtag_scan_dr_sampled(in, out, 40, mask);
  port_io::use_backend(nullptr);
  EXPECT_EQ(out[0], 0x7FFFFFFEu);
  EXPECT_EQ(out[1], 0xFDu);
}

TEST(FastCable, BatchedReadsKeepTheTrafficAndTheCapturedBits) {
  const std::uint32_t in[3] = {0x13579BDF, 0x2468ACE0, 0x0F0F0F0F};
  for (bool fast : {false, true}) {
    const auto scan = [&](std::uint32_t* out) { jtag_scan_dr(in, out, 70); };
    const Capture at_once = run(false, fast, scan), batched = run(true, fast, scan);
    EXPECT_EQ(at_once.log, batched.log) << fast;
    for (int w = 0; w < 3; ++w) EXPECT_EQ(at_once.words[w], batched.words[w]) << fast << w;
    // The same array in and out: each input word is read before its output word is stored.
    std::uint32_t same_a[3] = {in[0], in[1], in[2]}, same_b[3] = {in[0], in[1], in[2]};
    run(false, fast, [&](std::uint32_t*) { jtag_scan_dr(same_a, same_a, 70); });
    const Capture shared =
        run(true, fast, [&](std::uint32_t*) { jtag_scan_dr(same_b, same_b, 70); });
    EXPECT_EQ(shared.log, at_once.log);
    for (int w = 0; w < 3; ++w) EXPECT_EQ(same_a[w], same_b[w]) << w;
  }
}

}  // namespace
}  // namespace dz::test
