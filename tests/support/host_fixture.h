#pragma once
// The one fixture of the suites that run dialogs and downloads: every module's process-wide state
// reset, the virtual clock, an in-memory settings store, the headless host with its message boxes,
// events and debug lines recorded, and a folder of the test's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui_headless.h"
#include "tests/support/temp_dir.h"

namespace dz::test {

// Puts every module's process-wide state back to how a fresh process has it: options and flags,
// settings store, cable and port, target description, flash drivers, serial and Ethernet
// interfaces, main window.
void reset_all_modules();

// A message box as the user saw it.
struct Box {
  std::string text;
  std::string caption;
  unsigned flags = 0;
  ui::Window owner = ui::no_window;
};

class HostTest : public ::testing::Test {
 protected:
  using Event = ui::headless::Event;
  using EventKind = ui::headless::EventKind;

  void SetUp() override;
  void TearDown() override;

  std::vector<Box> boxes();
  std::vector<std::string> box_texts();
  // Boxes as "caption: text".
  std::vector<std::string> box_lines();
  void clear_boxes();

  std::vector<Event> events();
  std::vector<Event> events_of(EventKind kind, int template_id, int control = -1);
  // Texts set into a control of dialogs of `template_id`, in order.
  std::vector<std::string> texts(int template_id, int control);
  // Texts appended to a control of dialogs of `template_id`, joined in order.
  std::string appended(int template_id, int control);
  std::vector<std::uint64_t> values(EventKind kind, int template_id, int control);
  bool was_shown(int template_id, int control);
  int dialogs_opened(int template_id);
  bool opened(int template_id) { return dialogs_opened(template_id) > 0; }

  std::vector<std::string> debug_lines();
  // Debug lines that contain `text`.
  int count_lines(std::string_view text);

  TempDir dir_;
  // The answer to Yes/No questions; every other box is answered OK.
  bool answer_yes_ = false;

 private:
  std::mutex lock_;
  std::vector<Box> boxes_;
  std::vector<Event> events_;
  std::vector<std::string> debug_lines_;
};

}  // namespace dz::test
