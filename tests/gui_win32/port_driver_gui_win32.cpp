// The port driver steps of a parallel cable, through the Windows program and the service control
// manager of the Wine prefix: the "GIVEIO" kernel-driver service is created, cannot start (Wine
// loads no port driver, and here there is none or only a file that is none), the user is told
// "Error Loading GIVEIO.SYS", and the service is stopped and deleted again.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "platform/port_io.h"
#include "tests/gui_win32/gui_driver.h"
#include "tests/image/image_builder.h"

namespace dz::testing {
namespace {

constexpr const char* service_name = "GIVEIO";

// The "GIVEIO" service as the service control manager describes it.
struct Service {
  DWORD type = 0, start = 0, state = 0;
  std::string path;
};

std::optional<Service> giveio() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return std::nullopt;
  std::optional<Service> out;
  if (SC_HANDLE service =
          OpenServiceA(manager, service_name, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)) {
    out.emplace();
    std::vector<char> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (QueryServiceConfigA(service, config, static_cast<DWORD>(buffer.size()), &needed)) {
      out->type = config->dwServiceType;
      out->start = config->dwStartType;
      out->path = config->lpBinaryPathName ? config->lpBinaryPathName : "";
    }
    SERVICE_STATUS status{};
    if (QueryServiceStatus(service, &status)) out->state = status.dwCurrentState;
    CloseServiceHandle(service);
  } else {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  }
  CloseServiceHandle(manager);
  return out;
}

// True when the manager's list of driver services names "GIVEIO".
bool listed_among_drivers() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE);
  if (manager == nullptr) return false;
  bool found = false;
  std::vector<char> buffer(64 * 1024);
  DWORD needed = 0, count = 0, resume = 0;
  BOOL more = TRUE;
  while (more) {
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    const BOOL ok =
        EnumServicesStatusA(manager, SERVICE_DRIVER, SERVICE_STATE_ALL, entries,
                            static_cast<DWORD>(buffer.size()), &needed, &count, &resume);
    more = !ok && GetLastError() == ERROR_MORE_DATA;
    if (!ok && !more) break;
    for (DWORD i = 0; i < count; ++i)
      if (_stricmp(entries[i].lpServiceName, service_name) == 0) found = true;
  }
  CloseServiceHandle(manager);
  return found;
}

// Makes `dir` the current directory, which program entry records as the start-up directory.
class CurrentDirectory {
 public:
  explicit CurrentDirectory(const std::string& dir) {
    char old[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof old, old);
    old_ = old;
    EXPECT_TRUE(SetCurrentDirectoryA(dir.c_str()));
  }
  ~CurrentDirectory() { SetCurrentDirectoryA(old_.c_str()); }
  CurrentDirectory(const CurrentDirectory&) = delete;
  CurrentDirectory& operator=(const CurrentDirectory&) = delete;

 private:
  std::string old_;
};

class PortDriverGui : public GuiTest {};

TEST_F(PortDriverGui, WithoutALoadableDriverTheBoxIsShownAndNoServiceIsLeft) {
  // A run that crashed may have left the service in the prefix.
  port_io::port_driver_remove(service_name);
  ASSERT_FALSE(giveio().has_value()) << "a GIVEIO service cannot be removed before the test";
  const std::string image = (dir_.path() / "eboot.bin").string();
  test::write_file(image,
                   make_image(0x80000000, 0x10, {{0x80000000, std::vector<std::uint8_t>(16, 7)}}));
  CurrentDirectory cd(dir_.path().string());
  char startup[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof startup, startup);
  const std::string driver_path = std::string(startup) + "\\GIVEIO.SYS";

  Program program;
  const ui::Window main = program.main();
  ASSERT_NE(main, ui::no_window);
  // The Belvona parallel cable on the machine's own port.
  ASSERT_NO_FATAL_FAILURE(choose_belvona_cable(main));
  choose_bootloader(main, image);
  ASSERT_TRUE(enabled(main, IDC_BOOT_DOWNLOAD));

  // First without the driver file, then with a file of that name that is no driver.
  for (const bool file_present : {false, true}) {
    SCOPED_TRACE(file_present ? "GIVEIO.SYS is no driver" : "GIVEIO.SYS missing");
    if (file_present) test::write_file(driver_path, {'n', 'o', ' ', 'd', 'r', 'i', 'v', 'e', 'r'});
    click_later(main, IDC_BOOT_DOWNLOAD);
    const ui::Window detection = win32::wait_for_dialog(IDD_DETECTION, wait_ms);
    ASSERT_NE(detection, ui::no_window);
    const Box box = wait_for_message_box();
    ASSERT_NE(box.window, nullptr);
    EXPECT_EQ(box.text, "Error Loading GIVEIO.SYS");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(GetWindow(box.window, GW_OWNER), nullptr) << "shown without owner";
    // While the user reads it, the service that was created and could not start is still there.
    const auto service = giveio();
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->type, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
    EXPECT_EQ(service->start, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(service->state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(_stricmp(service->path.c_str(), driver_path.c_str()), 0) << service->path;
    PostMessageA(box.window, WM_COMMAND, IDOK, 0);

    // Detection goes on quietly until the user aborts it; then the job has failed.
    finish(detection, IDCANCEL);
    SendMessageA(hwnd(main), WM_NULL, 0, 0);
    EXPECT_EQ(last_job_result(), 0);
    wait_until([] { return !giveio().has_value(); }, 10000);
    EXPECT_FALSE(giveio().has_value());
    EXPECT_FALSE(listed_among_drivers());
  }
  EXPECT_EQ(program.close(), 1);
  std::filesystem::remove(driver_path);
}

// Waits until the service has gone (a deleted service goes once its last handle is closed).
bool service_gone() {
  wait_until([] { return !giveio().has_value(); }, 10000);
  return !giveio().has_value() && !listed_among_drivers();
}

bool device_opens() {
  HANDLE device = CreateFileA("\\\\.\\GIVEIO", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  CloseHandle(device);
  return true;
}

// What the service control manager says when the service's file is not a driver it can load.
DWORD start_error(const std::string& path) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return GetLastError();
  SC_HANDLE service =
      CreateServiceA(manager, service_name, service_name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr,
                     nullptr, nullptr, nullptr);
  DWORD error = service == nullptr ? GetLastError() : ERROR_SUCCESS;
  if (service != nullptr) {
    error = StartServiceA(service, 0, nullptr) ? ERROR_SUCCESS : GetLastError();
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return error;
}

// The service steps themselves with a driver that Wine loads: created, started and its device
// opened; a second install finds it running and uses it; removal stops and deletes it.
TEST_F(PortDriverGui, ALoadableDriverIsStartedOpenedStoppedAndDeleted) {
  const std::string path = (dir_.path() / "GIVEIO.SYS").string();
  const DWORD missing = start_error(path);
  EXPECT_NE(missing, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(service_gone());
  test::write_file(path, {'n', 'o', ' ', 'd', 'r', 'i', 'v', 'e', 'r'});
  const DWORD no_driver = start_error(path);
  EXPECT_NE(no_driver, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(service_gone());
  std::printf(
      "StartService of a missing driver file: error %lu; of a file that is no driver: "
      "error %lu\n",
      static_cast<unsigned long>(missing), static_cast<unsigned long>(no_driver));

  const char* driver = std::getenv("DZ_TEST_DRIVER");
  if (driver == nullptr) GTEST_SKIP() << "DZ_TEST_DRIVER names no driver that Wine can load";
  ASSERT_TRUE(CopyFileA(driver, path.c_str(), FALSE)) << driver;
  EXPECT_EQ(port_io::port_driver_install(service_name, path.c_str()), 1);
  auto service = giveio();
  ASSERT_TRUE(service.has_value());
  EXPECT_EQ(service->state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(device_opens());
  // Already installed and running (as if from elsewhere): used as it is.
  EXPECT_EQ(port_io::port_driver_install(service_name, path.c_str()), 1);
  EXPECT_EQ(port_io::port_driver_remove(service_name), 1);
  EXPECT_TRUE(service_gone());
  EXPECT_FALSE(device_opens()) << "the driver was not stopped";
  // Removing a service that is not there changes nothing.
  EXPECT_EQ(port_io::port_driver_remove(service_name), 1);
  EXPECT_TRUE(service_gone());
}

}  // namespace
}  // namespace dz::testing
