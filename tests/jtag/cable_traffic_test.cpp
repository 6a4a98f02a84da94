// The port traffic of the cable layer, byte for byte, per cable kind.
#include <gtest/gtest.h>

#include "jtag/cable.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class CableTraffic : public ::testing::Test {
 protected:
  void use_kind(std::uint32_t kind) {
    reset_cable_state(kind);
    port_io::use_backend(&port);
  }
  void TearDown() override { port_io::use_backend(nullptr); }
  RecordingPort port;
};

// One clock on each cable kind: the data byte of the falling edge, the status read between the
// edges when TDO is sampled (each cable its own status bit), and the rising edge's byte.
TEST_F(CableTraffic, ClockBitWritesTheCablesPinsAndReadsItsStatusBit) {
  struct Case {
    std::uint32_t kind;
    std::uint8_t status;
    int tms, tdi, read, tdo;
    std::uint8_t low, high;
  };
  const Case cases[] = {
      {0, 0x00, 1, 1, 0, -1, 0x0E, 0x0F},  // Belvona: nothing sampled
      {0, 0x00, 0, 0, 1, 1, 0x08, 0x09},   // S7 = 0 (Busy inverted) reads as TDO 1
      {0, 0x80, 0, 0, 1, 0, 0x08, 0x09},
      {2, 0x80, 1, 0, 1, 0, 0x18, 0x1C},  // Wiggler: the reset bits merged in, Busy inverted
      {2, 0x7F, 0, 1, 1, 1, 0x12, 0x16},
      {1, 0x20, 1, 1, 1, 1, 0x05, 0x07},  // Z&O: S5
      {1, 0xDF, 0, 0, 1, 0, 0x00, 0x02},  // every bit but S5
      {3, 0x10, 1, 0, 1, 1, 0x01, 0x03},  // Insight: S4
      {3, 0xEF, 0, 1, 1, 0, 0x04, 0x06},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "kind " << c.kind << " status " << int{c.status});
    use_kind(c.kind);
    if (c.kind == 2) wiggler_ctrl = 0x10;
    port.log.clear();
    port.status = c.status;
    EXPECT_EQ(jtag_clock_bit(c.tms, c.tdi, c.read), c.tdo);
    std::vector<Access> expected = {{'w', 0x378, c.low}, {'w', 0x378, c.high}};
    if (c.read) expected.insert(expected.begin() + 1, {'r', 0x379, c.status});
    EXPECT_EQ(port.log, expected);
  }
}

TEST_F(CableTraffic, InstructionScanClocksBitsLsbFirstAndRaisesTmsWithTheLast) {
  use_kind(1);  // Z&O: TCK D1, TMS D2, TDI D0
  jtag_ir_length = 5;
  jtag_load_ir(0x1E);
  const Bytes writes = port.data_writes();
  ASSERT_EQ(writes.size(), 2u * (4 + 5 + 2));
  Bytes low;  // the byte of each cycle's falling edge; the rising edge adds TCK
  for (std::size_t i = 0; i < writes.size(); i += 2) {
    EXPECT_EQ(writes[i + 1], writes[i] | 0x02);
    low.push_back(writes[i]);
  }
  // (TDI, TMS): (1,1) (1,1) (1,0) (1,0), bits 0 1 1 1 1 with TMS on the last, (1,1) (1,0).
  EXPECT_EQ(low, (Bytes{0x05, 0x05, 0x01, 0x01, 0x00, 0x01, 0x01, 0x01, 0x05, 0x05, 0x01}));
  for (const auto& a : port.log) EXPECT_EQ(a.op, 'w');  // nothing sampled
}

// A TAP reset without a pulse is six cycles; the reset lines exist on the Wiggler alone, and a
// pulse there releases TRST first.
TEST_F(CableTraffic, TapResetsAndResetLines) {
  use_kind(1);
  EXPECT_EQ(jtag_reset_tap(0), 1);
  EXPECT_EQ(port.data_writes(),
            (Bytes{0x05, 0x07, 0x05, 0x07, 0x05, 0x07, 0x05, 0x07, 0x05, 0x07, 0x01, 0x03}));

  for (std::uint32_t kind : {0u, 1u, 3u}) {
    use_kind(kind);
    port.log.clear();
    jtag_set_reset_lines(1, 1);
    jtag_set_reset_lines(0, 0);
    EXPECT_TRUE(port.log.empty()) << "kind " << kind;
  }
  use_kind(2);
  port.log.clear();
  jtag_set_reset_lines(1, 1);  // TRST asserted: D4 = 0; SRST asserted: D0 = 1
  jtag_set_reset_lines(0, 1);
  jtag_set_reset_lines(0, 0);
  EXPECT_EQ(port.data_writes(), (Bytes{0x01, 0x11, 0x10}));
  EXPECT_EQ(wiggler_ctrl, 0x10);

  use_kind(2);
  port.log.clear();
  const std::uint32_t t0 = clock::tick_ms();
  EXPECT_EQ(jtag_reset_tap(1), 1);
  EXPECT_EQ(clock::tick_ms() - t0, 2u);
  const Bytes w = port.data_writes();
  ASSERT_EQ(w.size(), 3u + 12u);
  // Then TMS=1, TDI=1 with NOT TRST held high: 0x10|0x02|0x08.
  EXPECT_EQ(Bytes(w.begin(), w.begin() + 4), (Bytes{0x01, 0x11, 0x10, 0x1A}));
}

TEST_F(CableTraffic, DataScanLayoutAndAbsentArrays) {
  use_kind(0);
  port.status = 0x00;  // TDO always 1
  std::uint32_t out[2] = {0xDEADBEEF, 0xDEADBEEF};
  jtag_scan_dr(nullptr, out, 33);
  EXPECT_EQ(out[0], 0xFFFFFFFFu);
  EXPECT_EQ(out[1], 1u);  // last captured bit in bit 0, zeros above
  const Bytes w = port.data_writes();
  ASSERT_EQ(w.size(), 2u * (3 + 33 + 2));
  for (std::size_t i = 6; i < 6 + 66; i += 2) EXPECT_EQ(w[i] & 0x02, 0) << i;  // zeros shifted
  std::size_t reads = 0;
  for (const auto& a : port.log) reads += a.op == 'r';
  EXPECT_EQ(reads, 33u);

  port.log.clear();
  const std::uint32_t in[1] = {0x5};
  jtag_scan_dr(in, nullptr, 3);  // samples but stores nothing
  reads = 0;
  for (const auto& a : port.log) reads += a.op == 'r';
  EXPECT_EQ(reads, 3u);
}

TEST_F(CableTraffic, EmptyScansAndKindsAboveFiveTouchNothing) {
  use_kind(0);
  jtag_scan_dr(nullptr, nullptr, 0);
  jtag_ir_length = 0;
  jtag_load_ir(1);
  EXPECT_TRUE(port.log.empty());

  use_kind(6);
  std::uint32_t word = 0x1234;
  jtag_ir_length = 7;
  EXPECT_EQ(jtag_clock_bit(1, 1, 1), -1);
  jtag_load_ir(3);
  jtag_scan_dr(&word, &word, 32);
  jtag_set_reset_lines(1, 1);
  jtag_reset_tap(1);
  EXPECT_EQ(word, 0x1234u);
  EXPECT_TRUE(port.log.empty());
  EXPECT_EQ(jtag_close_cable(), 1);
  EXPECT_TRUE(port.log.empty());
}

}  // namespace
}  // namespace dz::test
