// Debug lines and the error box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/ui.h"
#include "platform/ui_headless.h"

namespace dz {
namespace {

struct DebugOutput : ::testing::Test {
  void SetUp() override {
    saved_echo = debug_echo_flag.load();
    debug::set_sink([this](std::string_view line) { lines.emplace_back(line); });
  }
  void TearDown() override {
    debug::set_sink(nullptr);
    debug_echo_flag = saved_echo;
    ui::headless::reset();
  }
  int saved_echo = 1;
  std::vector<std::string> lines;
};

TEST_F(DebugOutput, LinesEndWithCrLfAndAreCutAt512) {
  debug_print("Download Time: %d (W: %d, R: %d)", 10, 2, 3);
  debug_info("Found BAD Block(%d) in the ReplacementBlocks Area", 7);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Download Time: 10 (W: 2, R: 3)\r\n");
  EXPECT_EQ(lines[1], "INFO: Found BAD Block(7) in the ReplacementBlocks Area\r\n");

  const std::string long_text(2000, 'x');
  lines.clear();
  debug_print("%s", long_text.c_str());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string(511, 'x') + "\r\n");
  lines.clear();
  debug_info("%s", long_text.c_str());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "INFO: " + std::string(505, 'x') + "\r\n");
}

TEST_F(DebugOutput, EchoFollowsBitZero) {
  debug_echo_flag = 1;
  testing::internal::CaptureStdout();
  debug_print("echoed %s", "line");
  debug_echo_flag = 2;  // bit 0 clear
  debug_print("quiet");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "echoed line\n");
  EXPECT_EQ(lines.size(), 2u);  // the debugger gets both
}

TEST_F(DebugOutput, ShowErrorIsAnOwnerlessErrorBox) {
  std::vector<ui::headless::Event> boxes;
  ui::headless::subscribe([&](const ui::headless::Event& e) {
    if (e.kind == ui::headless::EventKind::message_box) boxes.push_back(e);
  });
  show_error("Windows Sockets error %d: Couldn't create bootme socket", 10047);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].dlg, ui::no_window);
  EXPECT_EQ(boxes[0].text, "Windows Sockets error 10047: Couldn't create bootme socket\r\n");
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].value, ui::MB_ICONERROR);
}

}  // namespace
}  // namespace dz
