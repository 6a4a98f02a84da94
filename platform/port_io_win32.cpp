// Port access on Windows: direct port instructions, made possible on the NT family by the GIVEIO
// kernel driver, which is installed and started as a service and whose device is opened once.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/port_io.h"

namespace dz::port_io {
namespace {

inline void out_byte(std::uint16_t address, std::uint8_t value) {
  __asm__ __volatile__("outb %0, %1" : : "a"(value), "Nd"(address));
}

inline std::uint8_t in_byte(std::uint16_t address) {
  std::uint8_t value;
  __asm__ __volatile__("inb %1, %0" : "=a"(value) : "Nd"(address));
  return value;
}

class DirectPort final : public Backend {
 public:
  void write(std::uint16_t address, std::uint8_t value) override { out_byte(address, value); }
  std::uint8_t read(std::uint16_t address) override { return in_byte(address); }
};

// Creates the kernel-driver service; the handle is closed at once. 1 when it was created.
int create_service(SC_HANDLE manager, const char* name, const char* path) {
  SC_HANDLE service = CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr,
                                     nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr) return 0;
  CloseServiceHandle(service);
  return 1;
}

// Starts the service; an already running one counts as started.
int start_service(SC_HANDLE manager, const char* name) {
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
  if (service == nullptr) return 0;
  int ok = StartServiceA(service, 0, nullptr) ? 1 : 0;
  if (!ok && GetLastError() == ERROR_SERVICE_ALREADY_RUNNING) ok = 1;
  CloseServiceHandle(service);
  return ok;
}

// Opens the driver's device "\\.\<name>" and closes it again: 1 when it could be opened.
int open_device(const char* name) {
  char path[64];
  std::snprintf(path, sizeof path, "\\\\.\\%s", name);
  HANDLE device = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (device == INVALID_HANDLE_VALUE) return 0;
  CloseHandle(device);
  return 1;
}

}  // namespace

std::string default_port_name() {
  return "0x378";
}

std::unique_ptr<Backend> open_hardware_port(const std::string& name, std::uint16_t base,
                                            std::string& reason) {
  (void)name;
  (void)base;
  (void)reason;
  return std::make_unique<DirectPort>();
}

int port_driver_install(const char* service_name, const char* driver_path) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager != nullptr) {
    create_service(manager, service_name, driver_path);
    start_service(manager, service_name);
  }
  int ok = open_device(service_name);
  if (manager != nullptr) CloseServiceHandle(manager);
  return ok;
}

int port_driver_remove(const char* service_name) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) return 1;
  SERVICE_STATUS status;
  if (SC_HANDLE service = OpenServiceA(manager, service_name, SERVICE_ALL_ACCESS)) {
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    CloseServiceHandle(service);
  }
  if (SC_HANDLE service = OpenServiceA(manager, service_name, SERVICE_ALL_ACCESS)) {
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return 1;
}

}  // namespace dz::port_io
