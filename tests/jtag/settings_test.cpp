// JTAG settings: load and save through the settings store, and dialog 116 on the headless host.
#include <gtest/gtest.h>

#include <functional>

#include "jtag/settings.h"
#include "platform/settings.h"
#include "platform/thread.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "tests/jtag/rig.h"

namespace dz::test {
namespace {

ui::Command command(int id) {
  ui::Command c;
  c.id = id;
  return c;
}

class JtagSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    settings::use_memory_store();
    reset_cable_state(0);
  }
  void TearDown() override { settings::use_platform_store(); }

  // Runs the dialog on this thread while `user` acts on it from another one.
  void run_dialog(const std::function<void(ui::Window)>& user) {
    auto worker = threads::Thread::start([&] {
      ui::Window dlg = ui::headless::wait_for_dialog(IDD_JTAG_SETTINGS, 5000);
      if (dlg == ui::no_window) return;
      user(dlg);
      if (ui::is_open(dlg)) ui::send_command(dlg, command(ui::IDCANCEL));
    });
    EXPECT_EQ(jtag_settings_dialog(ui::no_window), 1);
    worker.join();
  }
  BoxRecorder boxes;
};

TEST_F(JtagSettings, FreshStoreGivesDefaultsTheDialogShowsThemAndAWigglerHidesTheSpeed) {
  ASSERT_EQ(jtag_load_settings(), 1);
  EXPECT_EQ(jtag_interface, 5u);
  EXPECT_EQ(jtag_speed_hz, 2000000u);
  EXPECT_EQ(port_io::port_name(), port_io::default_port_name());
  run_dialog([](ui::Window dlg) {
    EXPECT_TRUE(ui::is_checked(dlg, IDC_JTAG_USB));
    EXPECT_FALSE(ui::is_checked(dlg, IDC_JTAG_BELVONA));
    EXPECT_EQ(ui::text(dlg, IDC_JTAG_SPEED), "2000");
    EXPECT_TRUE(ui::is_visible(dlg, IDC_JTAG_SPEED));
    EXPECT_TRUE(ui::is_visible(dlg, IDC_JTAG_SPEED_LABEL));
    EXPECT_TRUE(ui::is_visible(dlg, IDC_JTAG_SPEED_HINT));
  });
  EXPECT_EQ(jtag_interface, 5u);  // Cancel keeps 5
  ASSERT_EQ(jtag_save_settings(), 1);
  auto key = settings::open_key(settings::main_key);
  std::uint32_t v = 0;
  ASSERT_TRUE(key->read_dword("JTAGInterface", v));
  EXPECT_EQ(v, 5u);
  ASSERT_TRUE(key->read_dword("JTAGSpeed", v));
  EXPECT_EQ(v, 2000000u);

  // The Wiggler is stored and hides the speed.
  jtag_speed_hz = 1000000;
  run_dialog([](ui::Window dlg) {
    ui::check_radio(dlg, IDC_JTAG_BELVONA, IDC_JTAG_USB, IDC_JTAG_WIGGLER);
    ui::send_command(dlg, command(IDC_JTAG_WIGGLER));
    EXPECT_FALSE(ui::is_visible(dlg, IDC_JTAG_SPEED));
    ui::set_text(dlg, IDC_JTAG_SPEED, "");
    ui::send_command(dlg, command(ui::IDOK));
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
  });
  EXPECT_EQ(jtag_interface, 2u);
  EXPECT_EQ(jtag_speed_hz, 1000000u);  // empty field: unchanged
  jtag_save_settings();
  jtag_interface = 0;
  jtag_load_settings();
  EXPECT_EQ(jtag_interface, 2u);
  run_dialog([](ui::Window dlg) {
    EXPECT_TRUE(ui::is_checked(dlg, IDC_JTAG_WIGGLER));
    EXPECT_FALSE(ui::is_visible(dlg, IDC_JTAG_SPEED));
    EXPECT_FALSE(ui::is_visible(dlg, IDC_JTAG_SPEED_LABEL));
  });
}

TEST_F(JtagSettings, SpeedFieldValues) {
  jtag_interface = 0;
  for (auto [text, expected] : {std::pair{"0", 0u},
                                {"6000", 6000000u},
                                {"12000", 12000000u},
                                {"abc", 12000000u},
                                {"-5", 12000000u}}) {
    run_dialog([&](ui::Window dlg) {
      ui::set_text(dlg, IDC_JTAG_SPEED, text);
      ui::send_command(dlg, command(ui::IDOK));
    });
    EXPECT_EQ(jtag_speed_hz, expected) << text;
  }
}

TEST_F(JtagSettings, UnknownInterfaceIsReportedAndARefusedUsbChoiceIsNotKept) {
  jtag_interface = 7;
  jtag_speed_hz = 2000000;
  run_dialog([](ui::Window dlg) {
    for (int id = IDC_JTAG_BELVONA; id <= IDC_JTAG_USB; ++id) EXPECT_FALSE(ui::is_checked(dlg, id));
    EXPECT_FALSE(ui::is_visible(dlg, IDC_JTAG_SPEED));
    ui::set_text(dlg, IDC_JTAG_SPEED, "3000");
    ui::send_command(dlg, command(ui::IDOK));
    // The USB library cannot be loaded here: the dialog stays open, and neither the adapter nor
    // the speed of the refused choice is in force (nor saved when the main window closes).
    EXPECT_TRUE(ui::is_open(dlg));
    EXPECT_EQ(jtag_interface, 7u);
    EXPECT_EQ(jtag_speed_hz, 2000000u);
  });
  EXPECT_EQ(jtag_interface, 7u);
  EXPECT_EQ(jtag_speed_hz, 2000000u);
  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[0].text, "Unknown JTAG interface selected");
  EXPECT_EQ(boxes.boxes[0].caption, "Error");
  EXPECT_EQ(boxes.boxes[0].flags, ui::MB_ICONERROR);
  EXPECT_NE(boxes.boxes[0].owner, ui::no_window);
  EXPECT_EQ(boxes.boxes[1].text,
            "Cannot find or Load FTCJTAG.dll, Make sure you have installed Drivers Correctly.");
}

TEST_F(JtagSettings, StoredUsbWithoutLibraryFallsBackToBelvona) {
  {
    auto key = settings::open_key(settings::main_key);
    key->write_dword("JTAGInterface", 4);
    key->write_dword("JTAGSpeed", 0);
    key->write_string("ParallelPort", "remote:127.0.0.1:4444");
  }
  ASSERT_EQ(jtag_load_settings(), 1);
  EXPECT_EQ(jtag_interface, 0u);
  EXPECT_EQ(jtag_speed_hz, 0u);
  EXPECT_EQ(port_io::port_name(), "remote:127.0.0.1:4444");
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].caption, "Error");
}

TEST_F(JtagSettings, FastProgrammingIsOffByDefaultAndFollowsTheCheckBox) {
  ASSERT_EQ(jtag_load_settings(), 1);
  EXPECT_EQ(jtag_fast_programming, 0u);
  // A store from before the setting: saving with fast mode off does not add it.
  ASSERT_EQ(jtag_save_settings(), 1);
  std::uint32_t v = 7;
  EXPECT_FALSE(settings::open_key(settings::main_key)->read_dword("JTAGFastProgramming", v));

  run_dialog([](ui::Window dlg) {
    EXPECT_FALSE(ui::is_checked(dlg, IDC_JTAG_FAST));
    ui::check_radio(dlg, IDC_JTAG_BELVONA, IDC_JTAG_USB, IDC_JTAG_BELVONA);  // no USB library here
    ui::check(dlg, IDC_JTAG_FAST, true);
    ui::send_command(dlg, command(ui::IDOK));
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
  });
  EXPECT_EQ(jtag_fast_programming, 1u);
  ASSERT_EQ(jtag_save_settings(), 1);
  ASSERT_TRUE(settings::open_key(settings::main_key)->read_dword("JTAGFastProgramming", v));
  EXPECT_EQ(v, 1u);

  // Loaded again it shows checked; Cancel keeps it, unchecking and OK turns it off and saves 0.
  jtag_fast_programming = 0;
  ASSERT_EQ(jtag_load_settings(), 1);
  EXPECT_EQ(jtag_fast_programming, 1u);
  run_dialog([](ui::Window dlg) {
    EXPECT_TRUE(ui::is_checked(dlg, IDC_JTAG_FAST));
    ui::check(dlg, IDC_JTAG_FAST, false);
    ui::send_command(dlg, command(ui::IDCANCEL));
  });
  EXPECT_EQ(jtag_fast_programming, 1u);
  run_dialog([](ui::Window dlg) {
    ui::check(dlg, IDC_JTAG_FAST, false);
    ui::send_command(dlg, command(ui::IDOK));
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
  });
  EXPECT_EQ(jtag_fast_programming, 0u);
  ASSERT_EQ(jtag_save_settings(), 1);
  ASSERT_TRUE(settings::open_key(settings::main_key)->read_dword("JTAGFastProgramming", v));
  EXPECT_EQ(v, 0u);

  // Any stored value but 0 is on.
  settings::open_key(settings::main_key)->write_dword("JTAGFastProgramming", 5);
  ASSERT_EQ(jtag_load_settings(), 1);
  EXPECT_EQ(jtag_fast_programming, 1u);
}

}  // namespace
}  // namespace dz::test
