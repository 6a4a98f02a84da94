// "ComPort" in the settings store and the Serial Interface Settings dialog.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/serial_port.h"
#include "platform/settings.h"
#include "platform/thread.h"
#include "resources/resource.h"
#include "serial/serial_download.h"
#include "tests/serial/serial_test_support.h"

namespace dz {
namespace {

using SerialSettings = test::SerialTest;

// A missing value loads the platform's first port; a stored one comes back as it was saved.
TEST_F(SerialSettings, MissingValueLoadsThePlatformsFirstPortAndRoundTrip) {
  set_com_port_name("something");
  EXPECT_EQ(serial_load_settings(), 1);
  EXPECT_EQ(com_port_name(), serial::default_port_name());
  set_com_port_name("/dev/ttyUSB3");
  EXPECT_EQ(serial_save_settings(), 1);
  std::string stored;
  ASSERT_TRUE(settings::open_key(settings::main_key)->read_string("ComPort", stored, 256));
  EXPECT_EQ(stored, "/dev/ttyUSB3");
  set_com_port_name("other");
  EXPECT_EQ(serial_load_settings(), 1);
  EXPECT_EQ(com_port_name(), "/dev/ttyUSB3");
}

TEST_F(SerialSettings, RoundTripThroughTheSettingsFile) {
  test::TempDir dir;
  settings::use_file_store(dir.file("settings.toml"));
  if (settings::store_path().empty()) GTEST_SKIP() << "no settings file on this platform";
  // A long device path where the platform has room for one.
  set_com_port_name("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A900abcd-if00-port0");
  const std::string name = com_port_name();
  EXPECT_EQ(serial_save_settings(), 1);
  reset_serial_state();
  settings::use_file_store(dir.file("settings.toml"));
  EXPECT_EQ(serial_load_settings(), 1);
  EXPECT_EQ(com_port_name(), name);
  settings::use_memory_store();
}

TEST_F(SerialSettings, ValueTooLongForTheNameLoadsTheDefaultAndNamesAreCut) {
  const std::string too_long(serial::port_name_capacity(), 'x');
  ASSERT_TRUE(settings::open_key(settings::main_key)->write_string("ComPort", too_long));
  EXPECT_EQ(serial_load_settings(), 1);
  EXPECT_EQ(com_port_name(), serial::default_port_name());
  set_com_port_name(too_long);
  EXPECT_EQ(com_port_name().size(), serial::port_name_capacity() - 1);
}

TEST_F(SerialSettings, OverrideIsNeitherStoredNorShownAsTheSetting) {
  set_com_port_name("/dev/ttyS1");
  serial::set_com_port_override("/dev/pts/77");
  EXPECT_EQ(serial_save_settings(), 1);
  EXPECT_EQ(serial_load_settings(), 1);
  EXPECT_EQ(com_port_name(), "/dev/ttyS1");
  EXPECT_EQ(serial::com_port_override(), "/dev/pts/77");
}

// Runs the dialog on this thread while `user` acts on it from another.
void with_dialog(const std::function<void(ui::Window)>& user) {
  threads::Thread t = threads::Thread::start([&] {
    const ui::Window dlg = ui::headless::wait_for_dialog(IDD_SERIAL_SETTINGS, 2000);
    ASSERT_NE(dlg, ui::no_window);
    // A command is handled only after the dialog's initialisation: wait for that.
    ui::send_command(dlg, ui::Command{});
    user(dlg);
  });
  EXPECT_EQ(serial_settings_dialog(ui::no_window), 1);
  t.join();
}

void press(ui::Window dlg, int id) {
  ui::Command c;
  c.id = id;
  ui::send_command(dlg, c);
}

std::vector<std::string> items(ui::Window dlg) {
  std::vector<std::string> out;
  for (int i = 0; i < ui::combo_count(dlg, IDC_COM_PORT); ++i) {
    out.push_back(ui::combo_item(dlg, IDC_COM_PORT, i));
  }
  return out;
}

TEST_F(SerialSettings, DialogListsABusyConfiguredPortSelectsItAndCancelKeepsTheName) {
  DZ_REQUIRE_PTY();
  serial::PseudoTerminal pty = test::pseudo_terminal();
  serial::Port busy = serial::Port::open(pty.slave_name);  // another program has the port
  ASSERT_TRUE(busy.is_open());
  set_com_port_name(pty.slave_name);
  with_dialog([&](ui::Window dlg) {
    const auto listed = items(dlg);
    EXPECT_NE(std::find(listed.begin(), listed.end(), pty.slave_name), listed.end());
    for (const auto& port : serial::list_ports()) {
      EXPECT_NE(std::find(listed.begin(), listed.end(), port), listed.end()) << port;
    }
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
    const int sel = ui::combo_selection(dlg, IDC_COM_PORT);
    ASSERT_GE(sel, 0);
    EXPECT_EQ(ui::combo_item(dlg, IDC_COM_PORT, sel), pty.slave_name);
    EXPECT_FALSE(ui::is_enabled(dlg, IDC_PORT_SPEED));
    ui::combo_select(dlg, IDC_COM_PORT, -1);
    press(dlg, ui::IDCANCEL);
  });
  EXPECT_EQ(com_port_name(), pty.slave_name);
}

TEST_F(SerialSettings, UnknownStoredPortLeavesNoSelectionAndOkEmptiesTheName) {
  set_com_port_name("/dev/dz-unplugged");
  with_dialog([&](ui::Window dlg) {
    const auto listed = items(dlg);
    EXPECT_EQ(std::find(listed.begin(), listed.end(), "/dev/dz-unplugged"), listed.end());
    EXPECT_EQ(ui::combo_selection(dlg, IDC_COM_PORT), -1);
    press(dlg, ui::IDOK);
  });
  EXPECT_EQ(com_port_name(), "");
}

TEST_F(SerialSettings, OkStoresTheChosenPort) {
  DZ_REQUIRE_PTY();
  serial::PseudoTerminal a = test::pseudo_terminal();
  set_com_port_name(a.slave_name);
  with_dialog([&](ui::Window dlg) {
    const int i = ui::combo_find_exact(dlg, IDC_COM_PORT, a.slave_name);
    ASSERT_GE(i, 0);
    ui::combo_select(dlg, IDC_COM_PORT, i);
    press(dlg, ui::IDOK);
  });
  EXPECT_EQ(com_port_name(), a.slave_name);
}

}  // namespace
}  // namespace dz
