// BOOTME reception, the device list, its settings and the Ethernet settings dialog.
#include <atomic>
#include <cstring>
#include <optional>
#include <thread>

#include "ethernet_fixture.h"
#include "platform/thread.h"
#include "resources/resource.h"

namespace dz::test {
namespace {

std::vector<std::uint8_t> bootme_datagram(const char* name, std::size_t size = 64,
                                          const char* id = "EDBG") {
  std::vector<std::uint8_t> p(size, 0);
  std::memcpy(p.data(), id, std::min<std::size_t>(4, size));
  if (size >= 64)
    std::memcpy(p.data() + 8 + 29, name, std::min<std::size_t>(16, std::strlen(name)));
  return p;
}

// A dialog that records the commands it receives (stands in for the main window).
struct RecordingWindow {
  std::mutex mutex;
  std::vector<ui::Command> commands;
  std::atomic<ui::Window> dlg{ui::no_window};
  threads::Thread thread;

  void open() {
    thread = threads::Thread::start([this] {
      ui::DialogProc proc;
      proc.init = [this](ui::Window d, std::intptr_t) { dlg = d; };
      proc.command = [this](ui::Window d, const ui::Command& c) {
        if (c.id == ui::IDCANCEL && c.notification == 0 && c.text.empty()) {
          ui::end_dialog(d, 0);
          return;
        }
        std::lock_guard lock(mutex);
        commands.push_back(c);
      };
      ui::run_dialog(IDD_ABOUT, ui::no_window, proc);
    });
    while (dlg.load() == ui::no_window) std::this_thread::yield();
  }
  void close() {
    ui::post_command(dlg.load(), ui::Command{ui::IDCANCEL, 0, 0, {}});
    thread.join();
  }
  std::vector<ui::Command> received() {
    std::lock_guard lock(mutex);
    return commands;
  }
};

bool wait_until(const std::function<bool()>& condition, int ms = 3000) {
  for (int i = 0; i < ms / 5; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

// The value `name` under the Ethernet key, or nothing where none is stored.
std::optional<std::string> stored(const char* name) {
  std::string v;
  if (!settings::open_key(settings::ethernet_key)->read_string(name, v, 256)) return std::nullopt;
  return v;
}

class Discovery : public EthernetTest {};

TEST_F(Discovery, OnlyExact64ByteEdbgDatagramsCount) {
  std::atomic<int> result{-1};
  auto receiver = threads::Thread::start([&] { result = receive_bootme() ? 1 : 0; });
  udp::Socket sender = udp::Socket::create();
  udp::Address loader{udp::loopback_ip, loader_port_};
  // Wrong sizes and a wrong identifier, each carrying a name that must never be taken; then a
  // good one. Repeated, since the receiver's socket may not be bound yet.
  while (result.load() < 0) {
    sender.send_to(bootme_datagram("SHORT", 63), loader);
    sender.send_to(bootme_datagram("LONG65", 65), loader);
    sender.send_to(bootme_datagram("NOTEDBG", 64, "EDBH"), loader);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (result.load() >= 0) break;
    sender.send_to(bootme_datagram("GOOD"), loader);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  receiver.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_STREQ(last_bootme().device_name, "GOOD");
}

TEST_F(Discovery, StopFlagEndsTheWait) {
  std::atomic<int> result{-1};
  auto receiver =
      threads::Thread::start([&] { result = static_cast<int>(receive_bootme_result()); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop_flag = 1;
  EXPECT_TRUE(receiver.wait(1000));
  EXPECT_EQ(result.load(), static_cast<int>(BootmeResult::stopped));
}

TEST_F(Discovery, UnterminatedNamesAreCutToTheirFields) {
  std::vector<std::uint8_t> p(64, 'A');
  std::memcpy(p.data(), "EDBG", 4);
  BootmeInfo info;
  ASSERT_TRUE(parse_bootme(p, info));
  EXPECT_EQ(std::string(info.device_name), std::string(16, 'A'));
  EXPECT_EQ(std::string(info.platform_id), std::string(16, 'A'));
  EXPECT_EQ(info.boot_flags, 0x41414141u);
}

TEST_F(Discovery, FirstModuleBecomesSelectedAndMainWindowIsTold) {
  RecordingWindow main;
  main.open();
  notify_window = main.dlg.load();
  start_listener(ui::no_window);
  sim::EthernetModuleConfig c;
  c.name = "FIRST";
  start_module(c);
  ASSERT_TRUE(wait_until([&] { return !main.received().empty(); }));
  stop_listener();
  EXPECT_EQ(selected_device(), "FIRST");
  EXPECT_EQ(device_count.load(), 1);
  auto commands = main.received();
  EXPECT_EQ(commands[0].id, IDC_DEVICE_NAME_NOTIFY);
  EXPECT_EQ(commands[0].text, "FIRST");
  main.close();
}

TEST_F(Discovery, RestoredModulesAreInvalidUntilTheyAnnounce) {
  {
    auto key = settings::open_key(settings::ethernet_key);
    key->write_string("Device0", "OLD1");
    key->write_string("Device1", "OLD2");
  }
  ASSERT_EQ(load_ethernet_settings(), 1);
  EXPECT_EQ(selected_device(), "OLD1");
  DeviceRecord record;
  ASSERT_TRUE(find_device("OLD2", record));
  EXPECT_EQ(record.valid, 0u);
  auto lines = device_detail_lines(record);
  std::vector<std::string> expected = {"Device Info is:\t\tinvalid",
                                       "Version:\t\t\t0.0",
                                       "MAC address:\t\t00:00:00:00:00:00",
                                       "IP address:\t\t0.0.0.0",
                                       "Platform ID:\t\t",
                                       "Device Name:\t\tOLD2",
                                       "CPU ID:\t\t\t<unknown>",
                                       "Bootme version:\t\t<invalid>",
                                       "Boot flags:\t\t<none>",
                                       "Download port:\t\t0",
                                       "Service port:\t\t0"};
  EXPECT_EQ(lines, expected);

  start_listener(ui::no_window);
  sim::EthernetModuleConfig c;
  c.name = "OLD2";
  c.mac = {0x00, 0x0e, 0x1f, 0xab, 0xcd, 0xef};
  c.ip = 0xC0A8000A;
  c.platform_id = "PXA320";
  c.version_major = 2, c.version_minor = 15;
  c.cpu_id = 0x40;
  c.bootme_version = 3;
  c.boot_flags = 1;
  c.download_port = 980;
  c.service_port = 981;
  start_module(c);
  ASSERT_TRUE(wait_until([&] { return find_device("OLD2", record) && record.valid == 1; }));
  stop_listener();
  expected = {
      "Device Info is:\t\tvalid",    "Version:\t\t\t2.15",     "MAC address:\t\t00:0e:1f:ab:cd:ef",
      "IP address:\t\t192.168.0.10", "Platform ID:\t\tPXA320", "Device Name:\t\tOLD2",
      "CPU ID:\t\t\tSA1100/ARM720",  "Bootme version:\t\t3",   "Boot flags:\t\tforce download",
      "Download port:\t\t980",       "Service port:\t\t981"};
  EXPECT_EQ(device_detail_lines(record), expected);
  EXPECT_EQ(device_count.load(), 2);  // a known module is updated, not added
}

TEST_F(Discovery, DetailLinesCoverCpuIdsAndBootFlags) {
  DeviceRecord r;
  const std::pair<int, const char*> cpus[] = {
      {0x10, "SH3/SH4"}, {0x20, "R3000/R4102/R4111/R4200/Rr300"},
      {0x30, "i486"},    {0x40, "SA1100/ARM720"},
      {0x50, "PPC821"},  {0x41, "<unknown>"}};
  for (auto [id, name] : cpus) {
    r.info.cpu_id = static_cast<std::uint8_t>(id);
    EXPECT_EQ(device_detail_lines(r)[6], std::string("CPU ID:\t\t\t") + name);
  }
  r.info.boot_flags = 7;
  r.info.bootme_version = 1;
  r.info.download_port = 65535;
  EXPECT_EQ(device_detail_lines(r)[8], "Boot flags:\t\tset current BOOTME version");
  EXPECT_EQ(device_detail_lines(r)[7], "Bootme version:\t\t<invalid>");
  EXPECT_EQ(device_detail_lines(r)[9], "Download port:\t\t65535");
  EXPECT_EQ(device_detail_lines(r).size(), 11u);
}

TEST_F(Discovery, SaveStoresSelectedFirstAndTenAreRestored) {
  for (int i = 0; i < 12; ++i) append_device("M" + std::to_string(i));
  take_announcement(bootme_info_named("NEW"));  // a new module goes in front
  EXPECT_EQ(device_list()[0].info.device_name, std::string("NEW"));
  set_selected_device("M5");
  accept_all = 0;
  fast_download = 1;
  ASSERT_EQ(save_ethernet_settings(), 1);
  EXPECT_EQ(stored("Device0"), "M5");
  EXPECT_EQ(stored("Device1"), "NEW");
  EXPECT_EQ(stored("Device2"), "M0");
  EXPECT_EQ(stored("Device12"), "M11");
  EXPECT_EQ(stored("LastSelectedDevice"), "M5");
  reset_device_list_state();
  ASSERT_EQ(load_ethernet_settings(), 1);
  auto list = device_list();
  ASSERT_EQ(list.size(), 10u);
  EXPECT_EQ(list[0].info.device_name, std::string("M5"));
  EXPECT_EQ(list[1].info.device_name, std::string("NEW"));
  EXPECT_EQ(list[9].info.device_name, std::string("M8"));
  EXPECT_EQ(selected_device(), "M5");
  EXPECT_EQ(accept_all.load(), 0);
  EXPECT_EQ(fast_download.load(), 1);
}

// Nothing stored loads the defaults; no device is saved empty and loads back as none; overlong
// stored names are cut to what the list and the selection hold.
TEST_F(Discovery, DefaultsNoDeviceAndOverlongStoredNames) {
  accept_all = 0;
  fast_download = 1;
  ASSERT_EQ(load_ethernet_settings(), 1);
  EXPECT_EQ(selected_device(), "<no device>");
  EXPECT_EQ(accept_all.load(), 0);  // a missing value leaves what was there
  reset_device_list_state();
  ASSERT_EQ(load_ethernet_settings(), 1);
  EXPECT_EQ(accept_all.load(), 1);
  EXPECT_EQ(fast_download.load(), 0);
  EXPECT_EQ(device_count.load(), 0);

  ASSERT_EQ(save_ethernet_settings(), 1);
  EXPECT_EQ(stored("LastSelectedDevice"), "");
  reset_device_list_state();
  set_selected_device("something");
  ASSERT_EQ(load_ethernet_settings(), 1);
  EXPECT_EQ(selected_device(), "<no device>");

  {
    auto key = settings::open_key(settings::ethernet_key);
    key->write_string("LastSelectedDevice", std::string(200, 'S'));
    key->write_string("Device1", std::string(40, 'D'));
  }
  reset_device_list_state();
  ASSERT_EQ(load_ethernet_settings(), 1);
  EXPECT_EQ(selected_device(), std::string(63, 'S'));
  ASSERT_EQ(device_count.load(), 1);
  EXPECT_EQ(device_list()[0].info.device_name, std::string(16, 'D'));
}

TEST_F(Discovery, MainWindowEmptyingTheListReleasesIt) {
  append_device("A");
  append_device("B");
  device_count = 0;  // what the main window does when it is destroyed
  EXPECT_EQ(ethernet_close(), 1);
  EXPECT_TRUE(device_list().empty());
}

// The settings dialog with its listener: a module that announces is appended and, being the
// first one known, selected; OK takes the box's text and the options.
TEST_F(Discovery, SettingsDialogListsAnnouncedModulesAndTakesOk) {
  RecordingWindow main;
  main.open();
  append_device("KNOWN");
  set_selected_device("KNOWN");
  device_count = 0;  // nothing known: the announced module becomes the first
  release_device_list_if_empty();
  std::atomic<int> result{-1};
  auto ui_thread =
      threads::Thread::start([&] { result = ethernet_settings_dialog(main.dlg.load()); });
  ui::Window dlg = ui::headless::wait_for_dialog(IDD_ETHERNET_SETTINGS, 3000);
  ASSERT_NE(dlg, ui::no_window);
  // The listener starts last in the dialog's initialisation.
  ASSERT_TRUE(wait_until([] { return listener_stop.load() == 0; }));
  EXPECT_TRUE(ui::is_checked(dlg, IDC_ACCEPT_ALL));
  EXPECT_FALSE(ui::is_checked(dlg, IDC_FAST_DOWNLOAD));
  EXPECT_EQ(ui::text(dlg, IDC_MODULE_BOX), "<no device>");
  sim::EthernetModuleConfig c;
  c.name = "ANNOUNCED";
  start_module(c);
  ASSERT_TRUE(wait_until([&] { return ui::combo_count(dlg, IDC_MODULE_BOX) == 1; }));
  ASSERT_TRUE(wait_until([&] { return ui::list_count(dlg, IDC_DEVICE_DETAILS) == 11; }));
  EXPECT_EQ(ui::combo_selection(dlg, IDC_MODULE_BOX), 0);
  EXPECT_EQ(ui::list_item(dlg, IDC_DEVICE_DETAILS, 0), "Device Info is:\t\tvalid");
  EXPECT_EQ(ui::list_item(dlg, IDC_DEVICE_DETAILS, 5), "Device Name:\t\tANNOUNCED");
  ui::check(dlg, IDC_ACCEPT_ALL, false);
  ui::check(dlg, IDC_FAST_DOWNLOAD, true);
  ui::set_text(dlg, IDC_MODULE_BOX, "TYPED-NAME");
  ui::send_command(dlg, ui::Command{ui::IDOK, 0, 0, {}});
  ASSERT_TRUE(ui_thread.wait(3000));
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(selected_device(), "TYPED-NAME");
  EXPECT_EQ(accept_all.load(), 0);
  EXPECT_EQ(fast_download.load(), 1);
  EXPECT_EQ(listener_stop.load(), 1);
  EXPECT_EQ(settings_window.load(), ui::no_window);
  auto commands = main.received();
  ASSERT_FALSE(commands.empty());
  EXPECT_EQ(commands.back().text, "TYPED-NAME");
  main.close();
}

TEST_F(Discovery, SettingsDialogCancelKeepsOptionsAndShowsRestoredDetails) {
  append_device("R1");
  append_device("R2");
  set_selected_device("R2");
  auto ui_thread = threads::Thread::start([&] { ethernet_settings_dialog(ui::no_window); });
  ui::Window dlg = ui::headless::wait_for_dialog(IDD_ETHERNET_SETTINGS, 3000);
  ASSERT_NE(dlg, ui::no_window);
  // The listener starts last in the dialog's initialisation.
  ASSERT_TRUE(wait_until([] { return listener_stop.load() == 0; }));
  ASSERT_TRUE(wait_until([&] { return ui::list_count(dlg, IDC_DEVICE_DETAILS) == 11; }));
  EXPECT_EQ(ui::combo_selection(dlg, IDC_MODULE_BOX), 1);
  EXPECT_EQ(ui::list_item(dlg, IDC_DEVICE_DETAILS, 0), "Device Info is:\t\tinvalid");
  EXPECT_EQ(ui::list_item(dlg, IDC_DEVICE_DETAILS, 5), "Device Name:\t\tR2");
  ui::combo_select(dlg, IDC_MODULE_BOX, 0);
  ui::send_command(dlg, ui::Command{IDC_MODULE_BOX, ui::CBN_SELENDOK, 0, {}});
  EXPECT_EQ(ui::list_item(dlg, IDC_DEVICE_DETAILS, 5), "Device Name:\t\tR1");
  ui::check(dlg, IDC_FAST_DOWNLOAD, true);
  ui::send_command(dlg, ui::Command{ui::IDCANCEL, 0, 0, {}});
  ASSERT_TRUE(ui_thread.wait(3000));
  EXPECT_EQ(fast_download.load(), 0);
  EXPECT_EQ(selected_device(), "R2");
}

}  // namespace
}  // namespace dz::test
