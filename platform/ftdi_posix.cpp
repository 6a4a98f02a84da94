// USB adapters on Linux: libftdi1 opens channel A of the adapter in MPSSE mode and carries the
// MPSSE byte stream; the JTAG library's operations are the MPSSE library's (ftdi.cpp).
#include <ftdi.h>
#include <libusb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/ftdi.h"

namespace dz::ftdi {
namespace {

void set_error(char* error, std::size_t size, const char* what, ftdi_context* ctx) {
  if (error == nullptr || size == 0) return;
  std::snprintf(error, size, "%s: %s", what, ctx ? ftdi_get_error_string(ctx) : "out of memory");
}

// One libftdi context, freed with the channel.
struct Context {
  ftdi_context* ctx = ftdi_new();
  ~Context() {
    if (ctx) ftdi_free(ctx);
  }
  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
};

class LibftdiChannel final : public Channel {
 public:
  explicit LibftdiChannel(std::unique_ptr<Context> context) : context_(std::move(context)) {}
  ~LibftdiChannel() override {
    ftdi_set_bitmode(context_->ctx, 0, BITMODE_RESET);
    ftdi_usb_close(context_->ctx);
  }

  bool write(const std::uint8_t* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const int chunk = static_cast<int>(std::min<std::size_t>(size - done, 65536));
      const int n = ftdi_write_data(context_->ctx, data + done, chunk);
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool read(std::uint8_t* data, std::size_t size) override {
    // The chip sends what it has when the latency timer expires: loop, bounded in time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::size_t done = 0;
    while (done < size) {
      const int n = ftdi_read_data(context_->ctx, data + done, static_cast<int>(size - done));
      if (n < 0) return false;
      done += static_cast<std::size_t>(n);
      if (n == 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
    return true;
  }

 private:
  std::unique_ptr<Context> context_;
};

class LibftdiBus final : public Bus {
 public:
  int find_devices(UsbDevice* out, int max, char* error, std::size_t error_size) override {
    Context c;
    if (c.ctx == nullptr) {
      set_error(error, error_size, "libftdi", nullptr);
      return -1;
    }
    int count = 0;
    // Each VID:PID once (the three JTAGkeys share one).
    for (std::size_t m = 0; m < std::size(adapter_models); ++m) {
      bool seen = false;
      for (std::size_t k = 0; k < m; ++k)
        seen = seen || (adapter_models[k].vid == adapter_models[m].vid &&
                        adapter_models[k].pid == adapter_models[m].pid);
      if (seen) continue;
      ftdi_device_list* list = nullptr;
      const int n = ftdi_usb_find_all(c.ctx, &list, adapter_models[m].vid, adapter_models[m].pid);
      if (n < 0) {
        set_error(error, error_size, "USB device list", c.ctx);
        return -1;
      }
      for (ftdi_device_list* d = list; d != nullptr && count < max; d = d->next) {
        UsbDevice dev;
        char manufacturer[64] = {};
        if (ftdi_usb_get_strings2(c.ctx, d->dev, manufacturer, sizeof manufacturer, dev.product,
                                  sizeof dev.product, dev.serial, sizeof dev.serial) < 0) {
          // Without access the strings cannot be read: the device is listed by its identity.
          std::snprintf(dev.product, sizeof dev.product, "%s", adapter_models[m].product);
        }
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(d->dev, &desc) < 0) continue;
        dev.vid = desc.idVendor;
        dev.pid = desc.idProduct;
        dev.bcd_device = desc.bcdDevice;
        out[count++] = dev;
      }
      ftdi_list_free(&list);
    }
    return count;
  }

  std::unique_ptr<Channel> open(const UsbDevice& device, std::uint8_t latency_ms, char* error,
                                std::size_t error_size) override {
    auto c = std::make_unique<Context>();
    if (c->ctx == nullptr) {
      set_error(error, error_size, "libftdi", nullptr);
      return nullptr;
    }
    ftdi_set_interface(c->ctx, INTERFACE_A);
    const char* serial = device.serial[0] ? device.serial : nullptr;
    if (ftdi_usb_open_desc(c->ctx, device.vid, device.pid, device.product, serial) < 0) {
      set_error(error, error_size, "USB open", c->ctx);
      return nullptr;
    }
    if (ftdi_usb_reset(c->ctx) < 0 || ftdi_set_latency_timer(c->ctx, latency_ms) < 0 ||
        ftdi_set_bitmode(c->ctx, 0, BITMODE_RESET) < 0 ||
        ftdi_set_bitmode(c->ctx, 0x0b, BITMODE_MPSSE) < 0 || ftdi_tcioflush(c->ctx) < 0) {
      set_error(error, error_size, "MPSSE setup", c->ctx);
      ftdi_usb_close(c->ctx);
      return nullptr;
    }
    return std::make_unique<LibftdiChannel>(std::move(c));
  }
};

LibftdiBus& the_bus() {
  static LibftdiBus bus;
  return bus;
}

}  // namespace

Bus* system_bus() {
  return &the_bus();
}

Library* platform_library() {
  static std::unique_ptr<Library> lib = make_mpsse_library(the_bus());
  return lib.get();
}

bool platform_library_available(std::string& reason) {
  UsbDevice found[16];
  char error[160] = {};
  const int n = the_bus().find_devices(found, 16, error, sizeof error);
  if (n < 0) {
    reason = error;
    return false;
  }
  // USB access is granted per device: only a connected adapter that opens shows that it works.
  if (n == 0) {
    reason = "no supported USB JTAG adapter is connected";
    return false;
  }
  for (int i = 0; i < n; ++i) {
    auto channel = the_bus().open(found[i], 2, error, sizeof error);
    if (!channel) {
      reason = std::string(error) + ". " + usb_access_hint();
      return false;
    }
  }
  return true;
}

void* library_entry(const char*) {
  return nullptr;
}

const char* usb_access_hint() {
  return "USB adapters need access to their device: install the udev rule "
         "60-dividezurirer.rules into /etc/udev/rules.d/, run 'udevadm control --reload' and "
         "'udevadm trigger', and add yourself to the group plugdev";
}

}  // namespace dz::ftdi
