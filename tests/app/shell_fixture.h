#pragma once
// Runs the main window on the shared fixture (headless host, virtual clock, memory settings store)
// while the test acts as the user on a second thread.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "download/interface.h"
#include "download/options.h"
#include "platform/clock.h"
#include "platform/settings.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "tests/app/test_interfaces.h"
#include "tests/image/image_builder.h"
#include "tests/support/host_fixture.h"

namespace dz::testing {

class ShellTest : public test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    reset_shell_recorder();
  }

  // Opens the main window, runs `user` with it on another thread, then closes it with command 2.
  void with_main(const std::function<void(ui::Window)>& user) {
    std::thread worker([&] {
      ui::Window main = ui::headless::wait_for_dialog(IDD_MAIN, 5000);
      ASSERT_NE(main, ui::no_window);
      command(main, 0);  // the initialisation is done once this has been handled
      user(main);
      command(main, ui::IDCANCEL);
    });
    EXPECT_EQ(run_main_window(ui::no_window), 1);
    worker.join();
  }

  static void command(ui::Window dlg, int id, int notification = 0, std::string text = {}) {
    ui::Command c;
    c.id = id;
    c.notification = notification;
    c.text = std::move(text);
    ui::send_command(dlg, c);
  }
  static void type_file(ui::Window main, int combo, const std::string& path) {
    ui::set_text(main, combo, path);
    command(main, combo, ui::CBN_EDITCHANGE);
  }
  static std::vector<std::string> items(ui::Window dlg, int combo) {
    std::vector<std::string> out;
    for (int i = 0; i < ui::combo_count(dlg, combo); ++i)
      out.push_back(ui::combo_item(dlg, combo, i));
    return out;
  }

  // Posts a command that opens a modal dialog and waits until that dialog is ready.
  static ui::Window open_modal(ui::Window owner, int id, int template_id) {
    ui::Command c;
    c.id = id;
    ui::post_command(owner, c);
    for (int i = 0; i < 500; ++i) {
      ui::Window dlg = ui::headless::find_dialog(template_id);
      if (dlg != ui::no_window) {
        command(dlg, 0);
        return dlg;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ui::no_window;
  }

  std::string image_file(const std::string& name, std::uint32_t start, std::uint32_t length) {
    std::vector<ImageRecord> records = {{start, std::vector<std::uint8_t>(length, 0x5A)}};
    return dir_.write(name, make_image(start, length, records));
  }

  static std::string stored_text(const std::string& name) {
    auto key = settings::open_key(settings::main_key);
    std::string value;
    if (!key || !key->read_string(name, value, 256)) return "<missing>";
    return value;
  }
  static std::uint32_t stored_dword(const std::string& name, std::uint32_t missing = 0xDEADBEEF) {
    auto key = settings::open_key(settings::main_key);
    std::uint32_t value = 0;
    if (!key || !key->read_dword(name, value)) return missing;
    return value;
  }
  static void store_text(const std::string& name, const std::string& value) {
    auto key = settings::open_key(settings::main_key);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->write_string(name, value));
  }
  static void store_dword(const std::string& name, std::uint32_t value) {
    auto key = settings::open_key(settings::main_key);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->write_dword(name, value));
  }
};

}  // namespace dz::testing
