// The options dialogs, the About box and the settings round trip through the TOML file.
#include <gmock/gmock.h>

#include "app/about_dialog.h"
#include "app/options_dialogs.h"
#include "tests/app/shell_fixture.h"

namespace dz::testing {
namespace {

TEST_F(ShellTest, OptionsDialogsDefaultsEnablingAndSavingAtClose) {
  with_main([&](ui::Window main) {
    ui::Window dlg = open_modal(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
    ASSERT_NE(dlg, ui::no_window);
    EXPECT_FALSE(ui::is_checked(dlg, IDC_FIX_IP));
    EXPECT_EQ(ui::ip(dlg, IDC_FIX_IP_ADDRESS), 0xC0A80001u);  // 192.168.0.1
    EXPECT_EQ(ui::ip(dlg, IDC_FIX_SUBNET), 0xFFFFFF00u);      // 255.255.255.0
    EXPECT_FALSE(ui::is_enabled(dlg, IDC_FIX_IP_ADDRESS));
    EXPECT_FALSE(ui::is_enabled(dlg, IDC_FIX_SUBNET));
    EXPECT_FALSE(ui::is_checked(dlg, IDC_FAST_BOOT));

    ui::check(dlg, IDC_FIX_IP, true);
    command(dlg, IDC_FIX_IP);
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_FIX_IP_ADDRESS));
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_FIX_SUBNET));
    ui::check(dlg, IDC_FIX_IP, false);
    command(dlg, IDC_FIX_IP);
    EXPECT_FALSE(ui::is_enabled(dlg, IDC_FIX_IP_ADDRESS));

    // Cancel keeps nothing.
    ui::check(dlg, IDC_FAST_BOOT, true);
    command(dlg, ui::IDCANCEL);
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
    EXPECT_EQ(fast_boot.load(), 0);

    // OK keeps everything, in memory only until the main window closes.
    dlg = open_modal(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
    ui::check(dlg, IDC_FIX_IP, true);
    command(dlg, IDC_FIX_IP);
    ui::set_ip(dlg, IDC_FIX_IP_ADDRESS, 0x0A000102);
    ui::set_ip(dlg, IDC_FIX_SUBNET, 0xFFFF0000);
    ui::check(dlg, IDC_FAST_BOOT, true);
    command(dlg, ui::IDOK);
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
    EXPECT_EQ(fix_ip.load(), 1);
    EXPECT_EQ(fixed_ip.load(), 0x0A000102u);
    EXPECT_EQ(fixed_subnet.load(), 0xFFFF0000u);
    EXPECT_EQ(fast_boot.load(), 1);
    EXPECT_EQ(stored_dword("BootloaderFixIP"), 0xDEADBEEFu);  // not written yet

    // Reopened, the dialog shows the values and enables the fields.
    dlg = open_modal(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
    EXPECT_TRUE(ui::is_checked(dlg, IDC_FIX_IP));
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_FIX_IP_ADDRESS));
    EXPECT_EQ(ui::ip(dlg, IDC_FIX_IP_ADDRESS), 0x0A000102u);
    command(dlg, ui::IDCANCEL);
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));

    // The image options: the ROM offset field follows its check box.
    dlg = open_modal(main, IDC_IMAGE_OPTIONS, IDD_IMAGE_OPTIONS);
    ASSERT_NE(dlg, ui::no_window);
    EXPECT_FALSE(ui::is_checked(dlg, IDC_ROM_OFFSET_ENABLE));
    EXPECT_EQ(ui::text(dlg, IDC_ROM_OFFSET), "0xf2020000");
    EXPECT_FALSE(ui::is_enabled(dlg, IDC_ROM_OFFSET));
    ui::check(dlg, IDC_ROM_OFFSET_ENABLE, true);
    command(dlg, IDC_ROM_OFFSET_ENABLE);
    EXPECT_TRUE(ui::is_enabled(dlg, IDC_ROM_OFFSET));
    ui::set_text(dlg, IDC_ROM_OFFSET, "0X1f ignored");
    command(dlg, ui::IDOK);
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
    EXPECT_EQ(rom_offset_enable.load(), 1);
    EXPECT_EQ(rom_offset.load(), 0x1Fu);
  });
  EXPECT_EQ(stored_dword("BootloaderFixIP"), 1u);
  EXPECT_EQ(stored_dword("BootloaderIP"), 0x0A000102u);
  EXPECT_EQ(stored_dword("BootloaderSubnet"), 0xFFFF0000u);
  EXPECT_EQ(stored_dword("BootloaderFastBoot"), 1u);
  EXPECT_EQ(stored_dword("ImageROMOffsetEnable"), 1u);
  EXPECT_EQ(stored_dword("ImageROMOffset"), 0x1Fu);
}

TEST_F(ShellTest, StoredOptionsAreLoadedAtOpen) {
  store_dword("BootloaderFixIP", 1);
  store_dword("BootloaderIP", 0xC0A80A0A);
  store_dword("ImageROMOffsetEnable", 1);
  store_dword("ImageROMOffset", 0x12345678);
  with_main([&](ui::Window) {
    EXPECT_EQ(fix_ip.load(), 1);
    EXPECT_EQ(fixed_ip.load(), 0xC0A80A0Au);
    EXPECT_EQ(fixed_subnet.load(), 0xFFFFFF00u);  // missing: default
    EXPECT_EQ(rom_offset_enable.load(), 1);
    EXPECT_EQ(rom_offset.load(), 0x12345678u);
  });
}

TEST_F(ShellTest, MissingValuesLoadAsDefaultsWhenTheWindowOpensAgain) {
  store_dword("BootloaderFixIP", 1);
  store_dword("BootloaderIP", 0x0A000001);
  store_dword("BootloaderSubnet", 0xFFFF0000);
  store_dword("BootloaderFastBoot", 1);
  store_dword("ImageROMOffsetEnable", 1);
  store_dword("ImageROMOffset", 0x12345678);
  with_main([&](ui::Window) { EXPECT_EQ(fixed_ip.load(), 0x0A000001u); });
  settings::use_memory_store();  // the settings are gone, as after a deleted key
  with_main([&](ui::Window) {
    EXPECT_EQ(fix_ip.load(), 0);
    EXPECT_EQ(fixed_ip.load(), 0xC0A80001u);
    EXPECT_EQ(fixed_subnet.load(), 0xFFFFFF00u);
    EXPECT_EQ(fast_boot.load(), 0);
    EXPECT_EQ(rom_offset_enable.load(), 0);
    EXPECT_EQ(rom_offset.load(), 0xF2020000u);
  });
}

TEST_F(ShellTest, AboutShowsTheVersionAndClosesOnlyWithOk) {
  with_main([&](ui::Window main) {
    ui::Window dlg = open_modal(main, ID_HELP_ABOUT, IDD_ABOUT);
    ASSERT_NE(dlg, ui::no_window);
    EXPECT_EQ(ui::text(dlg, IDC_ABOUT_VERSION), "Version 3.03 Built Aug 22 2014");
    command(dlg, ui::IDCANCEL);
    command(dlg, 0);
    EXPECT_TRUE(ui::is_open(dlg));
    command(dlg, ui::IDOK);
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
  });
}

TEST_F(ShellTest, SettingsRoundTripThroughTheTomlFile) {
  const std::string path = (dir_.path() / "settings.toml").string();
  settings::use_file_store(path);
  shell_recorder().detect_answers = 0;
  with_main([&](ui::Window main) {
    ui::set_text(main, IDC_BOOT_FILE, "C:\\images\\eboot \"quoted\".bin");
    command(main, IDC_BOOT_DOWNLOAD);
    ui::set_text(main, IDC_IMAGE_FILE, "nk-\xc3\xa9.bin");
    command(main, IDC_IMAGE_DOWNLOAD);
    ui::Window dlg = open_modal(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
    ui::check(dlg, IDC_FIX_IP, true);
    ui::set_ip(dlg, IDC_FIX_IP_ADDRESS, 0x0A0B0C0D);
    command(dlg, ui::IDOK);
    EXPECT_TRUE(ui::headless::wait_closed(dlg, 2000));
  });
  EXPECT_TRUE(std::filesystem::exists(path));

  // A fresh process state reading the same file.
  reset_options_state();
  settings::use_memory_store();
  settings::use_file_store(path);
  with_main([&](ui::Window main) {
    EXPECT_EQ(ui::text(main, IDC_BOOT_FILE), "C:\\images\\eboot \"quoted\".bin");
    EXPECT_EQ(ui::text(main, IDC_IMAGE_FILE), "nk-\xc3\xa9.bin");
    EXPECT_EQ(fix_ip.load(), 1);
    EXPECT_EQ(fixed_ip.load(), 0x0A0B0C0Du);
    EXPECT_EQ(rom_offset.load(), 0xF2020000u);
  });
}

}  // namespace
}  // namespace dz::testing
