// The settings through whole runs of the main window with the real interfaces: what a run
// writes, what it leaves to other runs, how a failed save is told, and values out of range.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "download/options.h"
#include "ethernet/device_list.h"
#include "jtag/cable.h"
#include "platform/settings.h"
#include "platform/settings_file.h"
#include "platform/settings_store.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "tests/support/settings_checks.h"

namespace dz {
namespace {

namespace fs = std::filesystem;
using test::dword_of;
using test::stderr_of;

// A memory store whose writes of one value fail, as a registry value can.
class FailingStore final : public settings::Store {
 public:
  explicit FailingStore(std::string failing) : failing_(std::move(failing)) {}
  std::unique_ptr<settings::Key> open(std::string_view subkey) override {
    auto inner = memory_->open(subkey);
    return inner ? std::make_unique<FailingKey>(std::move(inner), failing_) : nullptr;
  }

 private:
  struct FailingKey final : settings::Key {
    FailingKey(std::unique_ptr<settings::Key> inner, std::string failing)
        : inner(std::move(inner)), failing(std::move(failing)) {}
    bool read_dword(std::string_view name, std::uint32_t& value) override {
      return inner->read_dword(name, value);
    }
    bool read_string(std::string_view name, std::string& value, std::size_t capacity) override {
      return inner->read_string(name, value, capacity);
    }
    bool write_dword(std::string_view name, std::uint32_t value) override {
      return name != failing && inner->write_dword(name, value);
    }
    bool write_string(std::string_view name, std::string_view value) override {
      return name != failing && inner->write_string(name, value);
    }
    std::unique_ptr<settings::Key> inner;
    std::string failing;
  };

  std::unique_ptr<settings::Store> memory_ = settings::make_memory_store();
  std::string failing_;
};

class SettingsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::headless::reset();
    ui::headless::set_answerer(
        [](ui::Window, const std::string&, const std::string&, unsigned) { return ui::IDOK; });
    reset_options_state();
    reset_device_list_state();
    dir_ = fs::path(DZ_BINARY_DIR) / "test-settings-runs" /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "settings.toml").string();
  }
  void TearDown() override {
    ui::headless::reset();
    reset_device_list_state();
    settings::use_memory_store();
    fs::remove_all(dir_);
  }

  // One run of the main window: opens it, lets `user` act, closes it with the close box.
  static void run(const std::function<void(ui::Window)>& user) {
    std::thread worker([&] {
      ui::Window main = ui::headless::wait_for_dialog(IDD_MAIN, 5000);
      ASSERT_NE(main, ui::no_window);
      ui::Command sync;
      ui::send_command(main, sync);  // handled once the initialisation is done
      user(main);
      ui::Command close;
      close.id = ui::IDCANCEL;
      ui::send_command(main, close);
    });
    EXPECT_EQ(run_main_window(ui::no_window), 1);
    worker.join();
  }

  std::string read_file() const { return test::read_text(path_); }
  void write_file(const std::string& text) const { test::write_text(path_, text); }

  fs::path dir_;
  std::string path_;
};

constexpr const char* stored =
    "[\"Software\\\\Belvona\\\\DividezUrirer\"]\n"
    "Bootloader0 = \"/srv/eboot.bin\"\n"
    "BootloaderFixIP = 0\n"
    "ImageROMOffsetEnable = 0\n"
    "JTAGInterface = 2\n"
    "JTAGSpeed = 2000000\n"
    "ComPort = \"/dev/ttyS3\"\n"
    "[\"Software\\\\Belvona\\\\DividezUrirer\\\\Ethernet\"]\n"
    "Device0 = \"PXA270-1\"\n"
    "LastSelectedDevice = \"PXA270-1\"\n";

TEST_F(SettingsRun, ARunThatChangesNothingWritesNothing) {
  // No file: none is made.
  settings::use_file_store(path_);
  run([](ui::Window) {});
  EXPECT_FALSE(fs::exists(path_));
  EXPECT_FALSE(settings_save_failed());
  // A file: it is left exactly as it is, not rewritten.
  write_file(stored);
  const auto mtime = fs::last_write_time(path_) - std::chrono::seconds(10);
  fs::last_write_time(path_, mtime);
  reset_device_list_state();
  settings::use_file_store(path_);
  run([](ui::Window) { EXPECT_EQ(jtag_interface, 2u); });
  EXPECT_EQ(read_file(), stored);
  EXPECT_EQ(fs::last_write_time(path_), mtime);
  EXPECT_FALSE(fs::exists(path_ + ".lock"));
}

TEST_F(SettingsRun, AChangeMadeByAnotherRunMeanwhileIsNotUndone) {
  write_file(stored);
  settings::use_file_store(path_);
  run([&](ui::Window) {
    // While this run (a download, say) has the window open, another run fixes the IP address.
    {
      auto other = settings::make_file_store(path_);
      auto key = other->open(settings::main_key);
      key->write_dword("BootloaderFixIP", 1);
      key->write_dword("BootloaderIP", 0x0A000003);
    }
    rom_offset_enable = 1;  // this run changes the image option only
  });
  EXPECT_FALSE(settings_save_failed());
  const std::string text = read_file();
  EXPECT_NE(text.find("BootloaderFixIP = 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("BootloaderIP = 167772163\n"), std::string::npos) << text;
  EXPECT_NE(text.find("ImageROMOffsetEnable = 1\n"), std::string::npos) << text;
  EXPECT_NE(text.find("JTAGInterface = 2\n"), std::string::npos) << text;
}

TEST_F(SettingsRun, EachGroupStopsAtItsOwnFirstFailure) {
  settings::use_store(std::make_shared<FailingStore>("BootloaderIP"));
  const std::string err = stderr_of([] {
    run([](ui::Window) {
      fix_ip = 1;
      fixed_ip = 0x0A000001;
      fast_boot = 1;
      rom_offset_enable = 1;
      rom_offset = 0x80001000;
    });
  });
  EXPECT_TRUE(settings_save_failed());
  EXPECT_NE(err.find("\"BootloaderIP\" could not be written"), std::string::npos) << err;
  auto key = settings::open_key(settings::main_key);
  EXPECT_EQ(dword_of(*key, "BootloaderFixIP"), 1u);
  EXPECT_EQ(dword_of(*key, "BootloaderFastBoot"), std::nullopt);  // after the failure in its group
  EXPECT_EQ(dword_of(*key, "ImageROMOffsetEnable"), 1u);  // the image group is saved all the same
  EXPECT_EQ(dword_of(*key, "ImageROMOffset"), 0x80001000u);
}

TEST_F(SettingsRun, AnInterfaceOutOfRangeIsReportedOnceAndTheDefaultApplies) {
  for (const char* value : {"6", "\"2\"", "4294967295"}) {
    write_file(std::string("[\"Software\\\\Belvona\\\\DividezUrirer\"]\nJTAGInterface = ") + value +
               "\n");
    settings::use_file_store(path_);
    const std::string err =
        stderr_of([] { run([](ui::Window) { EXPECT_EQ(jtag_interface, 5u); }); });
    EXPECT_EQ(test::line_count(err), 1) << value << ": " << err;
    EXPECT_NE(err.find("JTAGInterface"), std::string::npos) << err;
  }
}

TEST_F(SettingsRun, ABootmeFloodKeepsTheListAndTheFileBounded) {
  write_file(stored);
  settings::use_file_store(path_);
  run([](ui::Window) {
    for (int i = 0; i < 16000; ++i) {
      char name[17];
      std::snprintf(name, sizeof name, "FLOOD-%05d", i);
      take_announcement(bootme_info_named(name));
      ASSERT_LE(device_list().size(), device_list_limit);
    }
    DeviceRecord record;
    EXPECT_TRUE(find_device("PXA270-1", record));  // the selected module stays
    EXPECT_TRUE(find_device("FLOOD-15999", record));
  });
  settings::StoreData data;
  ASSERT_TRUE(settings::file::parse(read_file(), data));
  const auto& ethernet = data[std::string(settings::ethernet_key)].values;
  // The devices and the selection; AcceptAll and FastDL did not change.
  EXPECT_EQ(ethernet.size(), device_list_limit + 1);
  EXPECT_EQ(ethernet.count("Device" + std::to_string(device_list_limit)), 0u);
  std::string name;
  ASSERT_TRUE(settings::read_string_value(ethernet.at("Device0"), name, 256));
  EXPECT_EQ(name, "PXA270-1");
  ASSERT_TRUE(settings::read_string_value(ethernet.at("Device1"), name, 256));
  EXPECT_EQ(name, "FLOOD-15999");
}

TEST_F(SettingsRun, ANonUtf8ModuleNameDoesNotSpoilTheNextStart) {
  settings::use_file_store(path_);
  const std::string module = "PXA\xFF\xFE-7";
  run([&](ui::Window) { take_announcement(bootme_info_named(module)); });
  reset_device_list_state();
  const std::string err = stderr_of([&] {
    settings::use_file_store(path_);
    run([&](ui::Window) {
      EXPECT_EQ(selected_device(), module);
      DeviceRecord record;
      EXPECT_TRUE(find_device(module, record));
    });
  });
  EXPECT_TRUE(err.empty()) << err;
  EXPECT_FALSE(fs::exists(path_ + ".corrupt"));
}

}  // namespace
}  // namespace dz
