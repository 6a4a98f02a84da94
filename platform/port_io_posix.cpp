// Port access on Linux: the kernel's parallel-port device (ppdev). There is no port driver to
// install here.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/port_io.h"

namespace dz::port_io {
namespace {

// /dev/parportN claimed for this process; registers addressed relative to the cable layer's base.
class PpdevPort final : public Backend {
 public:
  PpdevPort(int handle, std::uint16_t base) : handle_(handle), base_(base) {}
  ~PpdevPort() override {
    ::ioctl(handle_, PPRELEASE);
    ::close(handle_);
  }
  void write(std::uint16_t address, std::uint8_t value) override {
    unsigned char v = value;
    switch (address - base_) {
      case 0:
        ::ioctl(handle_, PPWDATA, &v);
        break;
      case 2:
        ::ioctl(handle_, PPWCONTROL, &v);
        break;
      default:
        break;
    }
  }
  std::uint8_t read(std::uint16_t address) override {
    unsigned char v = 0xFF;
    switch (address - base_) {
      case 0:
        ::ioctl(handle_, PPRDATA, &v);
        break;
      case 1:
        ::ioctl(handle_, PPRSTATUS, &v);
        break;
      case 2:
        ::ioctl(handle_, PPRCONTROL, &v);
        break;
      default:
        break;
    }
    return v;
  }

 private:
  int handle_;
  std::uint16_t base_;
};

}  // namespace

std::string default_port_name() {
  return "/dev/parport0";
}

std::unique_ptr<Backend> open_hardware_port(const std::string& name, std::uint16_t base,
                                            std::string& reason) {
  const std::string path = name.empty() ? default_port_name() : name;
  int handle = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (handle < 0) {
    reason = path + ": " + std::strerror(errno);
    return nullptr;
  }
  if (::ioctl(handle, PPCLAIM) != 0) {
    reason = path + ": cannot claim the port: " + std::strerror(errno);
    ::close(handle);
    return nullptr;
  }
  return std::make_unique<PpdevPort>(handle, base);
}

int port_driver_install(const char*, const char*) {
  return 1;
}
int port_driver_remove(const char*) {
  return 1;
}

}  // namespace dz::port_io
