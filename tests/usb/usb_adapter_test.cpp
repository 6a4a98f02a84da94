// The cable layer's USB branch over the simulated FTDI adapter: opening and naming, the queue and
// its flush limit, the order on the wire, the clock divisor and the reset outputs.
#include <ostream>
#include <vector>

#include "bscan/cpu.h"
#include "sim/tap.h"
#include "tests/usb/usb_fixture.h"

namespace dz::testing {
namespace {

using ::testing::ElementsAre;

constexpr std::uint32_t pxa270_idcode = 0x29265013;

struct NameCase {
  const char* product;
  std::uint32_t kind_before;
  std::uint32_t kind_after;
  const char* upper;
};

std::ostream& operator<<(std::ostream& out, const NameCase& c) {
  return out << '"' << c.product << "\" kind " << c.kind_before << " -> " << c.kind_after;
}

class UsbNames : public UsbTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(UsbNames, TheUpperCasedNameDecidesTheKind) {
  const NameCase& c = GetParam();
  plug("jtagkey").set_product(c.product);
  jtag_interface = c.kind_before;
  ASSERT_EQ(jtag_open_cable(), 1);
  EXPECT_EQ(jtag_interface, c.kind_after);
  EXPECT_STREQ(usb_device_name, c.upper);
  EXPECT_EQ(usb_hispeed, 0);
  EXPECT_NE(usb_handle, 0u);
  EXPECT_THAT(box_texts(), ElementsAre());
}

INSTANTIATE_TEST_SUITE_P(
    Names, UsbNames,
    ::testing::Values(NameCase{"oLiMeX OpenOCD JTAG", 4, 5, "OLIMEX OPENOCD JTAG"},
                      NameCase{"Amontec JTAGkey", 5, 4, "AMONTEC JTAGKEY"},
                      NameCase{"olimex amontec twin", 5, 4, "OLIMEX AMONTEC TWIN"},
                      NameCase{"Generic FT2232", 5, 5, "GENERIC FT2232"},
                      NameCase{"Generic FT2232", 4, 4, "GENERIC FT2232"}));

TEST_F(UsbTest, HighSpeedAdapterReadsTheIdcode) {
  plug("olimex-arm-usb-ocd-h");
  open_and_reset();
  EXPECT_EQ(usb_hispeed, 1);
  EXPECT_STREQ(usb_device_name, "OLIMEX OPENOCD JTAG ARM-USB-OCD-H");
  EXPECT_EQ(jtag_interface, 5u);
  EXPECT_EQ(module_->cpu().tap().state(), sim::TapState::run_test_idle);
  std::uint32_t id = 0;
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(id, pxa270_idcode);
  // A 36-bit scan through the debug register, captured bits in their words, zeros above.
  jtag_ir_length = 7;
  jtag_load_ir(9);
  std::uint32_t words[2] = {0x89ABCDEF, 0xFFFFFFF5};
  jtag_scan_dr(words, words, 36);
  std::uint32_t again[2] = {0, 0xFFFFFFFF};
  jtag_scan_dr(again, again, 36);
  EXPECT_EQ(again[0], 0x89ABCDEFu);
  EXPECT_EQ(again[1], 0x5u);
  EXPECT_EQ(module_->cpu().tap().debug_register(), 0xF00000000ull);
}

TEST_F(UsbTest, OpenFailuresTellTheUserAndLeaveNoHandle) {
  sim::FtdiAdapterSim& adapter = plug("jtagkey");
  adapter.set_plugged(0);
  EXPECT_EQ(jtag_open_cable(), 0);
  EXPECT_EQ(usb_handle, 0u);
  adapter.set_plugged(1);
  adapter.set_refuse_open(true);
  EXPECT_EQ(jtag_open_cable(), 0);
  EXPECT_EQ(usb_handle, 0u);
  EXPECT_THAT(
      box_lines(),
      ElementsAre("ERROR: No compatible USB JTAG Adapter Found. Check USB Cable Connection.",
                  "ERROR: Error during USB JTAG Adapter Init. Restart DividezUrirer."));
  // Several adapters: device 0 is used without complaint.
  clear_boxes();
  adapter.set_refuse_open(false);
  adapter.set_plugged(3);
  EXPECT_EQ(jtag_open_cable(), 1);
  EXPECT_THAT(box_texts(), ElementsAre());
  // A refused open does not report when asked not to (detection retries).
  jtag_close_cable();
  adapter.set_plugged(0);
  EXPECT_EQ(jtag_open_cable(0), 0);
  EXPECT_THAT(box_texts(), ElementsAre());
}

TEST_F(UsbTest, QueueIsExecutedBeforeItWouldPassTheFlushLimit) {
  sim::FtdiAdapterSim& adapter = plug("jtagkey");
  open_and_reset();
  const sim::Tap& tap = module_->cpu().tap();
  auto transfers = [&] { return adapter.transfers_out(); };

  std::uint64_t before = transfers();
  jtag_scan_dr(nullptr, nullptr, 40000);
  jtag_scan_dr(nullptr, nullptr, 91072);  // 131072 exactly: still queued
  EXPECT_EQ(transfers(), before);
  EXPECT_EQ(usb_pending_bits, 131072u);
  jtag_scan_dr(nullptr, nullptr, 1);  // one more executes the queue first
  EXPECT_EQ(transfers(), before + 1);
  EXPECT_EQ(usb_pending_bits, 1u);
  EXPECT_EQ(tap.last_dr_shift_count(), 91072u);

  jtag_ir_length = 7;
  jtag_load_ir(0x7F);  // executes the single queued bit, then the instruction
  EXPECT_EQ(usb_pending_bits, 0u);
  before = transfers();
  jtag_scan_dr(nullptr, nullptr, 40000);
  jtag_scan_dr(nullptr, nullptr, 100000);  // 140000 would pass the limit
  EXPECT_EQ(transfers(), before + 1);
  EXPECT_EQ(tap.last_dr_shift_count(), 40000u);
  EXPECT_EQ(usb_pending_bits, 100000u);
}

TEST_F(UsbTest, QueuedWritesReachTheWireInCallOrder) {
  sim::FtdiAdapterSim& adapter = plug("jtagkey");
  open_and_reset();
  sim::Tap& tap = module_->cpu().tap();
  jtag_ir_length = 7;
  jtag_load_ir(9);  // the 36-bit debug register
  adapter.set_recording(true);
  const std::uint64_t cycles = tap.tck_cycles();
  const std::uint64_t ir_updates = tap.ir_updates();
  const std::uint32_t a[2] = {0x11111111, 0x1}, b[2] = {0x22222222, 0x2}, c[2] = {0x33333333, 0x3};
  jtag_scan_dr(a, nullptr, 36);
  jtag_scan_dr(b, nullptr, 36);
  jtag_scan_dr(c, nullptr, 36);
  EXPECT_EQ(tap.tck_cycles(), cycles);  // queued, not yet on the wire
  EXPECT_TRUE(adapter.recorded().empty());
  jtag_load_ir(0x7F);
  // One transfer with the three data scans, then the instruction scan.
  ASSERT_EQ(adapter.recorded().size(), 2u);
  const auto& queued = adapter.recorded()[0];
  const auto& ir = adapter.recorded()[1];
  EXPECT_THAT(std::vector<std::uint8_t>(queued.begin(), queued.begin() + 3),
              ElementsAre(0x4B, 0x02, 0x01));
  EXPECT_THAT(std::vector<std::uint8_t>(ir.begin(), ir.begin() + 3), ElementsAre(0x4B, 0x03, 0x03));
  EXPECT_EQ(module_->cpu().tap().debug_register(), 0x333333333ull);  // the last one won
  EXPECT_EQ(tap.ir_updates(), ir_updates + 1);
  // Bytes per scan: 36 bits are 4.5 bytes of payload; the framing is a few bytes per scan.
  EXPECT_LE(queued.size(), 3u * (5 + 12));

  // A reading scan carries the queue ahead of it in the same transfer, then reads once.
  jtag_load_ir(9);
  adapter.recorded().clear();
  const std::uint64_t in_before = adapter.transfers_in();
  jtag_scan_dr(a, nullptr, 36);
  std::uint32_t out[2] = {};
  jtag_scan_dr(b, out, 36);
  EXPECT_EQ(adapter.recorded().size(), 1u);
  EXPECT_EQ(adapter.transfers_in(), in_before + 1);
  EXPECT_EQ(out[0], 0x11111111u);
  EXPECT_EQ(out[1], 0x1u);
}

TEST_F(UsbTest, ClockDivisorFollowsTheSpeedSetting) {
  const std::pair<std::uint32_t, std::uint32_t> examples[] = {
      {6000000, 0}, {3000000, 1}, {2000000, 2}, {1000000, 5}, {4000000, 0},
      {92, 65216},  {91, 2},      {1, 2},       {7000000, 2}, {0, 2}};
  for (const auto& [hz, divisor] : examples) EXPECT_EQ(jtag_clock_divisor(hz), divisor) << hz;

  sim::FtdiAdapterSim& adapter = plug("jtagkey-2");
  jtag_speed_hz = 1000000;
  open_and_reset();
  EXPECT_EQ(adapter.engine().divisor(), 5u);
  EXPECT_EQ(adapter.engine().tck_hz(), 1000000u);  // the H chip divides by 5 like the C
  jtag_close_cable();
  EXPECT_EQ(adapter.engine().divisor(), 4u);  // left at 1.2 MHz
  jtag_speed_hz = 7000000;
  open_and_reset();
  EXPECT_EQ(adapter.engine().divisor(), 2u);
}

TEST_F(UsbTest, AutomaticSpeedRunsAnIdentifiedPxa270At6MHz) {
  sim::FtdiAdapterSim& adapter = plug("jtagkey");
  open_and_reset();
  EXPECT_EQ(adapter.engine().divisor(), 2u);  // automatic starts at 2 MHz
  EXPECT_NE(cpu_identify(), 0u);
  EXPECT_EQ(adapter.engine().divisor(), 0u);
  jtag_close_cable();
  jtag_speed_hz = 3000000;  // a chosen speed is kept
  open_and_reset();
  EXPECT_NE(cpu_identify(), 0u);
  EXPECT_EQ(adapter.engine().divisor(), 1u);
}

struct ResetCase {
  const char* adapter;
  int trst, srst;
  bool trst_seen, srst_seen;
};

std::ostream& operator<<(std::ostream& out, const ResetCase& c) {
  return out << c.adapter << " trst=" << c.trst << " srst=" << c.srst;
}

class UsbResetLines : public UsbTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(UsbResetLines, PinRecordsDriveTheAdaptersResetOutputs) {
  const ResetCase& c = GetParam();
  sim::FtdiAdapterSim& adapter = plug(c.adapter);
  open_and_reset();
  jtag_set_reset_lines(c.trst, c.srst);
  EXPECT_EQ(module_->cpu().trst(), c.trst_seen);
  EXPECT_EQ(module_->cpu().srst(), c.srst_seen);
  // Full-speed chips have four high pins; the high-speed record keeps pins 5..8 inputs.
  EXPECT_EQ(adapter.engine().high_direction() & 0xF0, 0);
  // The JTAG output buffer enable (AD4) stays driven low: the TAP still answers.
  jtag_set_reset_lines(0, 0);
  EXPECT_FALSE(module_->cpu().trst());
  EXPECT_FALSE(module_->cpu().srst());
  ASSERT_EQ(jtag_reset_tap(0), 1);
  std::uint32_t id = 0;
  jtag_scan_dr(nullptr, &id, 32);
  EXPECT_EQ(id, pxa270_idcode);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, UsbResetLines,
    ::testing::Values(ResetCase{"jtagkey", 1, 1, true, true},  // kind 4
                      ResetCase{"jtagkey", 0, 1, false, true},
                      ResetCase{"jtagkey", 1, 0, true, false},
                      ResetCase{"jtagkey-2", 1, 1, true, true},            // kind 4, high speed
                      ResetCase{"olimex-arm-usb-ocd", 1, 1, false, true},  // kind 5: no TRST
                      ResetCase{"olimex-arm-usb-ocd", 1, 0, false, false},
                      ResetCase{"olimex-arm-usb-ocd-h", 0, 1, false, true}));

TEST_F(UsbTest, MpsseEngineAnswersAsTheChipDoes) {
  sim::FtdiAdapterSim& c_chip = plug("jtagkey");
  sim::MpsseEngine& c = c_chip.engine();
  const std::uint8_t cmds[] = {0x8B, 0x81, 0x84, 0x3B, 0x03, 0x05, 0x85, 0x00};
  c.receive(cmds, sizeof cmds);
  std::uint8_t reply[6] = {};
  ASSERT_EQ(c.replies_available(), 6u);
  ASSERT_TRUE(c.take_replies(reply, 6));
  // 0x8B is no command on a C chip; low pins: TCK/TDI/TMS low, TDO (unpowered buffers) and the
  // undriven inputs high; loopback: 4 bits 1,0,1,0 come back in the top of the byte; 0x00 is bad.
  EXPECT_THAT(std::vector<std::uint8_t>(reply, reply + 6),
              ElementsAre(0xFA, 0x8B, 0xF4, 0x50, 0xFA, 0x00));
  EXPECT_EQ(c.bad_commands(), 2u);

  std::uint8_t h_reply[2] = {};
  sim::FtdiAdapterSim h_chip(module_->cpu(), *ftdi::find_adapter_model("jtagkey-2"));
  const std::uint8_t h_cmds[] = {0x8A, 0x86, 0x02, 0x00};
  h_chip.engine().receive(h_cmds, sizeof h_cmds);
  EXPECT_FALSE(h_chip.engine().take_replies(h_reply, 1));
  EXPECT_EQ(h_chip.engine().tck_hz(), 10000000u);  // 30 MHz / 3 with divide-by-5 off
  // A command split over two transfers waits for its rest.
  const std::uint8_t part1[] = {0x80, 0x10};
  const std::uint8_t part2[] = {0xFB};
  h_chip.engine().receive(part1, sizeof part1);
  EXPECT_EQ(h_chip.engine().low_direction(), 0x0Bu);
  h_chip.engine().receive(part2, sizeof part2);
  EXPECT_EQ(h_chip.engine().low_value(), 0x10u);
  EXPECT_EQ(h_chip.engine().low_direction(), 0xFBu);
}

}  // namespace
}  // namespace dz::testing

namespace dz::testing {
namespace {

TEST_F(UsbTest, LibraryIsAvailableOnlyWithAUsableAdapter) {
  sim::FtdiAdapterSim& adapter = plug("olimex-arm-usb-ocd");
  EXPECT_EQ(usb_library_available(), 1);
  adapter.set_plugged(0);
  // On Windows the library is FTCJTAG.dll, and only whether it loads counts.
  EXPECT_EQ(usb_library_available(), DZ_USB_STANDIN ? 1 : 0);
}

}  // namespace
}  // namespace dz::testing
