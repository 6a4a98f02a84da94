// The simulated bootloader seen from the program's end of the line.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/serial_port.h"
#include "serial/ready_sequence.h"
#include "serial/serial_download.h"
#include "sim/serial_bootloader.h"
#include "sim/targets.h"
#include "tests/serial/serial_test_support.h"

namespace dz::sim {
namespace {

using serial::Port;

std::string seq_text() {
  return std::string(reinterpret_cast<const char*>(serial_ready_sequence.data()),
                     serial_ready_sequence.size());
}

// Reads until `until` appears or the time is up; returns the reads separately.
std::vector<std::string> read_until(Port& port, const std::string& until, int polls = 40) {
  std::vector<std::string> reads;
  std::string all;
  std::uint8_t buf[4096];
  for (int i = 0; i < polls && all.find(until) == std::string::npos; ++i) {
    if (port.wait_readable(100) != serial::Wait::ready) continue;
    const long n = port.read(buf);
    if (n <= 0) continue;
    reads.emplace_back(reinterpret_cast<char*>(buf), static_cast<std::size_t>(n));
    all += reads.back();
  }
  return reads;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const auto& p : parts) all += p;
  return all;
}

std::unique_ptr<SerialBootloader> start(SerialBootloaderConfig config) {
  std::string error;
  auto module = SerialBootloader::start(std::move(config), error);
  EXPECT_NE(module, nullptr) << error;
  return module;
}

Port open_line(const SerialBootloader& module) {
  Port port = Port::open(module.port_name());
  EXPECT_TRUE(port.is_open());
  port.configure_line();
  port.set_immediate_reads();
  return port;
}

// A module of `config` (pausing 10 ms around its ready sequence) whose line is open and past the
// sequence.
struct ReadyLine {
  std::unique_ptr<SerialBootloader> module;
  Port port;
};
ReadyLine ready_line(SerialBootloaderConfig config = {}) {
  config.split_pause_ms = 10;
  ReadyLine line{start(std::move(config)), {}};
  line.port = open_line(*line.module);
  read_until(line.port, seq_text());
  return line;
}

TEST(SerialBootloader, SaysNothingUntilTheLineIsOpenedThenBannerAndSequence) {
  DZ_REQUIRE_PTY();
  auto module = start({});
  EXPECT_FALSE(module->wait_ready_sent(1, 200));
  Port port = open_line(*module);
  const std::string all = joined(read_until(port, seq_text()));
  ASSERT_TRUE(all.ends_with(seq_text()));
  EXPECT_EQ(all.substr(0, all.size() - 17), module->console());
  EXPECT_NE(module->console().find("serial bootloader"), std::string::npos);
}

TEST(SerialBootloader, LongBannerAndSplitSequence) {
  DZ_REQUIRE_PTY();
  SerialBootloaderConfig config;
  config.banner_bytes = 3000;
  config.split_ready = true;
  config.split_pause_ms = 150;
  auto module = start(config);
  Port port = open_line(*module);
  const auto reads = read_until(port, seq_text());
  const std::string all = joined(reads);
  ASSERT_TRUE(all.ends_with(seq_text()));
  EXPECT_GE(module->console().size(), 3000u);
  // The last read holds only the sequence's tail: the sequence came in two parts.
  EXPECT_LT(reads.back().size(), 17u);
}

TEST(SerialBootloader, BrokenStartThenACleanSequence) {
  DZ_REQUIRE_PTY();
  SerialBootloaderConfig config;
  config.broken_prefix = true;
  config.split_pause_ms = 50;
  auto module = start(config);
  Port port = open_line(*module);
  const std::string clean = std::string("\xAA\x55\x55", 3) + seq_text() + seq_text();
  const std::string all = joined(read_until(port, clean));
  EXPECT_TRUE(all.ends_with(clean));
  EXPECT_TRUE(module->wait_ready_sent(2, 2000));
  EXPECT_EQ(module->ready_count(), 2);
}

TEST(SerialBootloader, ReceivesAndChecksTheExpectedImage) {
  DZ_REQUIRE_PTY();
  SerialBootloaderConfig config;
  config.expected = test::random_bytes(100000, 7);
  config.progress_every = 32 * 1024;
  auto [module, port] = ready_line(config);
  const auto& image = *config.expected;
  long sent = 0;
  while (sent < static_cast<long>(image.size())) {
    const long n = port.write({image.data() + sent, image.size() - sent}, 1000);
    ASSERT_GT(n, 0);
    sent += n;
  }
  ASSERT_TRUE(module->wait_result(5000));
  EXPECT_EQ(module->result(), true);
  EXPECT_EQ(module->received(), image);
  const std::string tail = joined(read_until(port, "OK\r\n"));
  EXPECT_NE(tail.find("Receiving: 96 KB\r\n"), std::string::npos);
  EXPECT_NE(tail.find("Image received: 100000 bytes, OK\r\n"), std::string::npos);
}

TEST(SerialBootloader, ReportsTheFirstWrongByte) {
  DZ_REQUIRE_PTY();
  SerialBootloaderConfig config;
  config.expected = test::random_bytes(5000, 8);
  auto [module, port] = ready_line(config);
  auto wrong = *config.expected;
  wrong[1234] ^= 0x40;
  ASSERT_EQ(port.write(wrong, 1000), 5000);
  ASSERT_TRUE(module->wait_result(5000));
  EXPECT_EQ(module->result(), false);
  EXPECT_NE(module->console().find("MISMATCH at byte 1234"), std::string::npos);
}

TEST(SerialBootloader, FollowsAWindowsCeImageToItsTerminator) {
  DZ_REQUIRE_PTY();
  auto [module, port] = ready_line();
  const auto image = test::wince_image({1000, 70000, 3}, 9);
  ASSERT_EQ(port.write(image, 1000), static_cast<long>(image.size()));
  ASSERT_TRUE(module->wait_result(5000));
  EXPECT_EQ(module->result(), true);
  EXPECT_EQ(module->received(), image);
}

TEST(SerialBootloader, BootsAgainForTheNextProgramAfterAnImage) {
  DZ_REQUIRE_PTY();
  SerialBootloaderConfig config;
  config.split_pause_ms = 10;
  config.expected = test::random_bytes(10, 1);
  auto module = start(config);
  {
    Port port = open_line(*module);
    read_until(port, seq_text());
    ASSERT_EQ(port.write(*config.expected, 1000), 10);
    ASSERT_TRUE(module->wait_result(2000));
  }
  // The module notices on its next poll that the line was let go.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Port again = open_line(*module);
  EXPECT_TRUE(joined(read_until(again, seq_text())).ends_with(seq_text()));
  EXPECT_TRUE(module->wait_ready_sent(2, 2000));
  EXPECT_EQ(module->ready_count(), 2);
}

TEST(SerialBootloader, StallingStopsTakingDataAndSaysSo) {
  DZ_REQUIRE_PTY();
  SerialBootloaderConfig config;
  config.stall_after = 1000;
  config.split_pause_ms = 20;
  std::string error;
  auto module = SerialBootloader::start(config, error);
  ASSERT_NE(module, nullptr) << error;
  Port port = open_line(*module);
  read_until(port, seq_text());
  const auto data = test::random_bytes(300000, 3);
  const long sent = port.write(data, 500);
  EXPECT_GT(sent, 1000);
  EXPECT_LT(sent, 300000) << "a stalled module leaves the writer waiting";
  ASSERT_TRUE(module->wait_received(1000, 2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_LT(module->received().size(), static_cast<std::size_t>(sent));
  EXPECT_NE(module->console().find("Flash busy at "), std::string::npos);
  EXPECT_FALSE(module->result().has_value());
}

TEST(SerialBootloader, VanishingClosesTheLine) {
  DZ_REQUIRE_PTY();
  auto [module, port] = ready_line();
  module->vanish();
  EXPECT_EQ(port.wait_readable(100), serial::Wait::hangup);
  EXPECT_EQ(port.write(test::random_bytes(10, 1), 100), -1);
}

// The target attaches a module on a pseudo-terminal, points the serial interface at it for as
// long as the session lives, and refuses bad options with a reason.
TEST(SerialBootloaderTarget, AttachPointsTheSerialInterfaceAtThePseudoTerminal) {
  DZ_REQUIRE_PTY();
  const TargetModel* model = find_target_model("serial-bootloader");
  ASSERT_NE(model, nullptr);
  EXPECT_STREQ(model->interface, "serial");
  std::string error;
  {
    auto session = model->attach({{"banner", "2000"}, {"split", ""}}, error);
    ASSERT_NE(session, nullptr) << error;
    const std::string port = serial::com_port_override();
    EXPECT_TRUE(port.starts_with("/dev/pts/")) << port;
    EXPECT_TRUE(serial::port_exists(port));
  }
  EXPECT_EQ(serial::com_port_override(), "");
  EXPECT_EQ(model->attach({{"colour", "red"}}, error), nullptr);
  EXPECT_NE(error.find("unknown option"), std::string::npos);
  EXPECT_EQ(model->attach({{"banner", "lots"}}, error), nullptr);
  EXPECT_NE(error.find("bad value"), std::string::npos);
  EXPECT_EQ(model->attach({{"expect", "/nonexistent/nk.bin"}}, error), nullptr);
  EXPECT_NE(error.find("cannot read"), std::string::npos);
  EXPECT_EQ(serial::com_port_override(), "");
}

}  // namespace
}  // namespace dz::sim
