// The main window: initial state, recent-file lists, file summaries, starting jobs.
#include <gmock/gmock.h>

#include "app/startup.h"
#include "download/job.h"
#include "ethernet/device_list.h"
#include "platform/help.h"
#include "tests/app/shell_fixture.h"

namespace dz::testing {
namespace {

using ::testing::ElementsAre;

TEST_F(ShellTest, OpensWithDefaultsAndLoadsEverySettingOnce) {
  with_main([&](ui::Window main) {
    EXPECT_EQ(ui::caption(main), "Quintar Loader 3. 3");
    EXPECT_EQ(ui::text(main, IDC_BOOT_FILE), "eboot.bin");
    EXPECT_EQ(ui::text(main, IDC_IMAGE_FILE), "nk.bin");
    EXPECT_TRUE(ui::is_checked(main, IDC_BOOT_JTAG));
    EXPECT_TRUE(ui::is_checked(main, IDC_IMAGE_ETHERNET));
    EXPECT_FALSE(ui::is_checked(main, IDC_IMAGE_JTAG));
    EXPECT_FALSE(ui::is_enabled(main, IDC_IMAGE_USB));
    EXPECT_FALSE(ui::is_checked(main, IDC_VERIFY));
    // Neither default file exists here, so both halves stay empty and cannot download.
    EXPECT_FALSE(ui::is_enabled(main, IDC_BOOT_DOWNLOAD));
    EXPECT_FALSE(ui::is_enabled(main, IDC_IMAGE_DOWNLOAD));
    EXPECT_EQ(ui::text(main, IDC_BOOT_TYPE), "");
    // After loading, the save sequence runs once to note the values as loaded (it writes
    // nothing); closing saves again, and only what changed is written.
    EXPECT_THAT(shell_calls(),
                ElementsAre("load 0", "load 1", "load 3", "save 0", "save 1", "save 3"));
  });
  EXPECT_THAT(shell_calls(), ElementsAre("load 0", "load 1", "load 3", "save 0", "save 1", "save 3",
                                         "save 0", "save 1", "save 3"));
  // Nothing changed, so the defaults are not written.
  EXPECT_EQ(stored_dword("BootloaderFixIP"), 0xDEADBEEFu);
  EXPECT_EQ(stored_dword("ImageROMOffset"), 0xDEADBEEFu);
}

TEST_F(ShellTest, DescribesImagesAndRawFiles) {
  const std::string image = image_file("boot.bin", 0x80000000, 0x40000);
  const std::string raw = dir_.write("raw.dat", std::vector<std::uint8_t>(3000, 1));
  with_main([&](ui::Window main) {
    // Typing a name describes the file at once (what each field then says is the image
    // reader's concern, checked with describe() itself).
    type_file(main, IDC_BOOT_FILE, image);
    EXPECT_EQ(ui::text(main, IDC_BOOT_TYPE), "WinCE");
    EXPECT_EQ(ui::text(main, IDC_BOOT_LENGTH), "0x00040000 (256 KB)");
    EXPECT_TRUE(ui::is_enabled(main, IDC_BOOT_DOWNLOAD));
    type_file(main, IDC_IMAGE_FILE, raw);
    EXPECT_EQ(ui::text(main, IDC_IMAGE_TYPE), "Raw");
    EXPECT_EQ(ui::text(main, IDC_IMAGE_LENGTH), "0x00000bb8 (2 KB)");
    type_file(main, IDC_IMAGE_FILE, (dir_.path() / "missing.bin").string());
    EXPECT_FALSE(ui::is_enabled(main, IDC_IMAGE_DOWNLOAD));
    EXPECT_EQ(ui::text(main, IDC_IMAGE_TYPE), "");
  });
}

TEST_F(ShellTest, RecentListsLoadInOrderSkippingGapsAndAChosenEntryMovesToTheTop) {
  const std::string first = image_file("first.bin", 0x80000000, 0x1000);
  store_text("Bootloader0", first);
  store_text("Bootloader2", "second.bin");
  store_text("Bootloader9", "third.bin");
  store_text("Image1", "only.bin");
  with_main([&](ui::Window main) {
    EXPECT_THAT(items(main, IDC_BOOT_FILE), ElementsAre(first, "second.bin", "third.bin"));
    EXPECT_EQ(ui::text(main, IDC_BOOT_FILE), first);  // entry 0 selected and described
    EXPECT_EQ(ui::text(main, IDC_BOOT_TYPE), "WinCE");
    EXPECT_THAT(items(main, IDC_IMAGE_FILE), ElementsAre("only.bin"));
  });
  // Nothing changed: the lists are not written, their gaps stay.
  EXPECT_EQ(stored_text("Bootloader1"), "<missing>");
  EXPECT_EQ(stored_text("Image0"), "<missing>");
  // A changed list is saved back densely from index 0; a value beyond it is left as it was.
  with_main([&](ui::Window main) {
    ui::combo_select(main, IDC_BOOT_FILE, 2);
    command(main, IDC_BOOT_FILE, ui::CBN_SELCHANGE);
    EXPECT_THAT(items(main, IDC_BOOT_FILE), ElementsAre("third.bin", first, "second.bin"));
    EXPECT_EQ(ui::combo_selection(main, IDC_BOOT_FILE), 0);
    EXPECT_EQ(ui::text(main, IDC_BOOT_FILE), "third.bin");
  });
  EXPECT_EQ(stored_text("Bootloader0"), "third.bin");
  EXPECT_EQ(stored_text("Bootloader1"), first);
  EXPECT_EQ(stored_text("Bootloader2"), "second.bin");
  EXPECT_EQ(stored_text("Bootloader9"), "third.bin");
}

TEST_F(ShellTest, DownloadAddsNewNamesAtTopIgnoringCaseAndKeepsElevenSavingTen) {
  const std::string image = image_file("Boot.bin", 0x80000000, 0x400);
  store_text("Bootloader0", "other.bin");
  store_text("Bootloader1", image);
  shell_recorder().detect_answers = 0;  // the job stops after detection
  with_main([&](ui::Window main) {
    // The same name in other letter case: no new entry, and the existing one stays where it is.
    std::string upper = image;
    upper.replace(upper.size() - 8, 8, "BOOT.BIN");
    ui::set_text(main, IDC_BOOT_FILE, upper);
    command(main, IDC_BOOT_DOWNLOAD);
    EXPECT_THAT(items(main, IDC_BOOT_FILE), ElementsAre("other.bin", image));
    // A new name goes to the top.
    const std::string fresh = image_file("fresh.bin", 0x80000000, 0x400);
    type_file(main, IDC_BOOT_FILE, fresh);
    command(main, IDC_BOOT_DOWNLOAD);
    EXPECT_THAT(items(main, IDC_BOOT_FILE), ElementsAre(fresh, "other.bin", image));
    // Eleven names: the list shows them all, the newest first.
    for (int i = 0; i < 11; ++i) {
      ui::set_text(main, IDC_IMAGE_FILE, "file" + std::to_string(i) + ".bin");
      command(main, IDC_IMAGE_DOWNLOAD);
    }
    EXPECT_EQ(ui::combo_count(main, IDC_IMAGE_FILE), 11);
    EXPECT_EQ(ui::combo_item(main, IDC_IMAGE_FILE, 0), "file10.bin");
  });
  EXPECT_EQ(stored_text("Bootloader0"), (dir_.path() / "fresh.bin").string());
  // Only ten are saved.
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(stored_text("Image" + std::to_string(i)), "file" + std::to_string(10 - i) + ".bin");
  EXPECT_EQ(stored_text("Image10"), "<missing>");
}

TEST_F(ShellTest, JobReceivesTheFieldsAndTheTypeIsCaseSensitive) {
  const std::string image = image_file("nk.bin", 0x80100000, 0x2000);
  const std::string raw = dir_.write("raw.dat", std::vector<std::uint8_t>(0x1800, 7));
  shell_recorder().detect_answers = 0;
  with_main([&](ui::Window main) {
    type_file(main, IDC_IMAGE_FILE, image);
    ui::check_radio(main, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_SERIAL);
    ui::check(main, IDC_VERIFY, true);
    command(main, IDC_IMAGE_DOWNLOAD);
    const DownloadJob job = current_job();
    EXPECT_EQ(job.selected_interface, serial_interface_index);
    EXPECT_EQ(job.image_path, image);
    EXPECT_EQ(job.is_raw, 0);
    EXPECT_EQ(job.image_start, 0x80100000u);
    EXPECT_EQ(job.image_length, 0x2000u);
    EXPECT_EQ(job.is_bootloader, 0);
    EXPECT_EQ(verify_after_write.load(), 1);
    EXPECT_EQ(last_job_result(), 0);  // detection refused

    // A type text other than exactly "WinCE" sends the file raw.
    ui::set_text(main, IDC_IMAGE_TYPE, "wince");
    command(main, IDC_IMAGE_DOWNLOAD);
    EXPECT_EQ(current_job().is_raw, 1);

    // The bootloader half always uses JTAG.
    type_file(main, IDC_BOOT_FILE, image);
    command(main, IDC_BOOT_DOWNLOAD);
    EXPECT_EQ(current_job().selected_interface, jtag_interface_index);
    EXPECT_EQ(current_job().is_bootloader, 1);

    // For a raw file the start typed by the user is used.
    type_file(main, IDC_IMAGE_FILE, raw);
    ui::set_text(main, IDC_IMAGE_START, "0xa0040000");
    command(main, IDC_IMAGE_DOWNLOAD);
    EXPECT_EQ(current_job().is_raw, 1);
    EXPECT_EQ(current_job().image_start, 0xA0040000u);
    EXPECT_EQ(current_job().image_length, 0x1800u);
  });
}

TEST_F(ShellTest, AWholeJobRunsThroughTheChosenInterface) {
  const std::string image = image_file("nk.bin", 0x80000000, 0x3000);
  with_main([&](ui::Window main) {
    type_file(main, IDC_IMAGE_FILE, image);
    command(main, IDC_IMAGE_DOWNLOAD);  // Ethernet, checked at start
    EXPECT_EQ(last_job_result(), 1);
  });
  std::vector<std::string> calls = shell_calls();
  // load x3, detect 3, open 3, one streamed write (the file is under 32 KiB), close 3, save x3
  EXPECT_THAT(calls, ::testing::Contains("detect 3"));
  EXPECT_THAT(calls, ::testing::Contains("open 3"));
  EXPECT_THAT(calls, ::testing::Contains("write 3"));
  EXPECT_THAT(calls, ::testing::Contains("close 3"));
  EXPECT_THAT(calls, ::testing::Not(::testing::Contains("open 0")));
}

TEST_F(ShellTest, InterfaceSettingsButtonsCallTheRightRecord) {
  with_main([&](ui::Window main) {
    command(main, IDC_BOOT_INTERFACE_SETTINGS);
    command(main, IDC_IMAGE_INTERFACE_SETTINGS);  // Ethernet checked
    ui::check_radio(main, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, IDC_IMAGE_SERIAL);
    command(main, IDC_IMAGE_INTERFACE_SETTINGS);
  });
  std::vector<std::string> dialogs;
  for (const auto& call : shell_calls())
    if (call.rfind("dialog", 0) == 0) dialogs.push_back(call);
  EXPECT_THAT(dialogs, ElementsAre("dialog 0", "dialog 3", "dialog 1"));
}

TEST_F(ShellTest, DeviceNameNotificationAndDestroy) {
  device_count = 4;
  with_main([&](ui::Window main) {
    command(main, IDC_DEVICE_NAME_NOTIFY, 0, "PXA270-4711");
    EXPECT_EQ(ui::text(main, IDC_CURRENT_DEVICE), "PXA270-4711");
    EXPECT_EQ(device_count.load(), 4);
  });
  EXPECT_EQ(device_count.load(), 0);
}

TEST_F(ShellTest, ExitCommandSavesLikeClosing) {
  store_text("Image0", "x.bin");
  shell_recorder().detect_answers = 0;
  std::thread worker([&] {
    ui::Window main = ui::headless::wait_for_dialog(IDD_MAIN, 5000);
    command(main, 0);
    ui::set_text(main, IDC_IMAGE_FILE, "y.bin");
    command(main, IDC_IMAGE_DOWNLOAD);  // detection is refused
    command(main, ID_FILE_EXIT);
  });
  EXPECT_EQ(run_main_window(ui::no_window), 1);
  worker.join();
  EXPECT_EQ(stored_text("Image0"), "y.bin");
  EXPECT_EQ(stored_text("Image1"), "x.bin");
}

TEST_F(ShellTest, HelpCommandsOpenTheHelpFileAndTheWindowStaysOpen) {
  struct Call {
    ui::Window owner;
    std::string file;
    unsigned command;
    std::uintptr_t data;
  };
  std::vector<Call> calls;
  help::set_handler(
      [&](ui::Window owner, const std::string& file, unsigned what, std::uintptr_t data) {
        calls.push_back({owner, file, what, data});
        return std::intptr_t{0};  // no viewer: nothing visible happens
      });
  ui::Window shown = ui::no_window;
  with_main([&](ui::Window main) {
    shown = main;
    command(main, ID_HELP_CONTENTS);
    command(main, ID_HELP_SEARCH);
    command(main, ID_HELP_INDEX);
    EXPECT_TRUE(ui::is_open(main));
  });
  help::set_handler(nullptr);
  ASSERT_EQ(calls.size(), 3u);
  const unsigned expected[] = {help::HH_DISPLAY_TOC, help::HH_DISPLAY_SEARCH,
                               help::HH_DISPLAY_INDEX};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].owner, shown);
    EXPECT_EQ(calls[i].file, "DividezUrirer.chm");
    EXPECT_EQ(calls[i].command, expected[i]);
    EXPECT_EQ(calls[i].data, 0u);
  }
  EXPECT_TRUE(boxes().empty());
}

TEST_F(ShellTest, ExactlyMinusTestOpensTheProductionTestWindow) {
  std::thread tester([&] {
    ui::Window dlg = ui::headless::wait_for_dialog(IDD_PRODUCTION_TEST, 5000);
    command(dlg, 0);
    EXPECT_EQ(ui::text(dlg, IDC_TEST_FIELD1), "RSDA1");
    command(dlg, ui::IDCANCEL);
  });
  EXPECT_EQ(program_main("-test"), 1);
  tester.join();
  EXPECT_FALSE(opened(IDD_MAIN));
  // Anything else, even "-test" with more, opens the main window (closed here by the user).
  std::thread worker([&] {
    ui::Window main = ui::headless::wait_for_dialog(IDD_MAIN, 5000);
    command(main, 0);
    command(main, ui::IDCANCEL);
  });
  EXPECT_EQ(program_main("-test "), 1);
  worker.join();
  EXPECT_EQ(dialogs_opened(IDD_PRODUCTION_TEST), 1);
}

}  // namespace
}  // namespace dz::testing
