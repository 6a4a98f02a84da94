// Opening and releasing a parallel-port cable.
#include "jtag/lpt.h"

#include <charconv>
#include <cstring>
#include <string>

#include "jtag/cable.h"
#include "platform/debug.h"
#include "platform/port_io.h"
#include "platform/ui.h"

namespace dz {

int port_driver_needed = 0;
std::string startup_directory;

namespace {

constexpr const char* driver_service = "GIVEIO";
constexpr const char* driver_file = "GIVEIO.SYS";

// The data byte written at open, and at close when no parallel cable is selected.
constexpr std::uint8_t idle_byte = 0x01;

// The byte left on the port when `cable` is released: the idle byte with the cable's reset
// outputs released (on the Wiggler D0 is SRST, so 0x01 would hold the module in reset after the
// download; there the byte is 0x10, NOT TRST high).
constexpr std::uint8_t release_byte(const ParallelCable& cable) {
  const auto reset_bits = static_cast<std::uint8_t>(cable.trst_n | cable.srst);
  return static_cast<std::uint8_t>((idle_byte & ~reset_bits) | cable.trst_n);
}

// The selected cable's wiring as the port backend needs it; all zero for a kind that is no
// parallel cable (opening takes this branch for every kind that is not a USB adapter).
port_io::CableWiring port_wiring(std::uint32_t kind) {
  const ParallelCable* cable = parallel_cable(kind);
  if (cable == nullptr) return {};
  return {.tck = cable->tck,
          .tms = cable->tms,
          .tdi = cable->tdi,
          .trst_n = cable->trst_n,
          .srst = cable->srst,
          .tdo_status = cable->tdo,
          .tdo_inverted = cable->tdo_inverted};
}

// The port driver is needed only for the machine's own port: a remote_bitbang server is reached
// over TCP, which no driver has to permit.
bool driver_needed() {
  return port_driver_needed != 0 && !port_io::is_remote_name(port_io::effective_port_name());
}

// A failed open: the reason on the debug output and the driver message to the user, both only
// when `report` is set (detection retries report a failing port once); the driver service is
// removed in any case.
int open_failed(int report, const std::string& reason) {
  if (report) {
    debug_print("%s", reason.c_str());
    ui::message_box(ui::no_window, "Error Loading GIVEIO.SYS", "Error", ui::MB_OK);
  }
  if (driver_needed()) port_io::port_driver_remove(driver_service);
  return 0;
}

// The driver path in a 256-byte buffer: start-up directory, backslash, file name. False when it
// does not fit (a very deep start-up directory); nothing is written past the buffer.
bool driver_path(char (&path)[256]) {
  const std::string& dir = startup_directory;
  const std::size_t needed = dir.size() + 1 + std::strlen(driver_file) + 1;
  if (needed > sizeof path) return false;
  std::memcpy(path, dir.data(), dir.size());
  path[dir.size()] = '\\';
  std::memcpy(path + dir.size() + 1, driver_file, std::strlen(driver_file) + 1);
  return true;
}

}  // namespace

std::uint16_t lpt_find_base() {
  const std::string name = port_io::effective_port_name();
  if (name.size() > 2 && name[0] == '0' && (name[1] == 'x' || name[1] == 'X')) {
    unsigned value = 0;
    auto [end, ec] = std::from_chars(name.data() + 2, name.data() + name.size(), value, 16);
    if (ec == std::errc{} && end == name.data() + name.size() && value > 0 && value <= 0xFFFC)
      return static_cast<std::uint16_t>(value);
  }
  return 0x378;
}

int lpt_open(int report) {
  if (driver_needed()) {
    char path[256];
    if (!driver_path(path))
      return open_failed(report, "Port driver path too long: start-up directory of " +
                                     std::to_string(startup_directory.size()) + " characters");
    if (!port_io::port_driver_install(driver_service, path))
      return open_failed(report, std::string("Cannot open the port driver device \\\\.\\") +
                                     driver_service + " (driver " + path + ")");
  }
  lpt_base = lpt_find_base();
  std::string reason;
  if (!port_io::acquire(lpt_base, jtag_interface, port_wiring(jtag_interface), reason))
    return open_failed(
        report, "Cannot access parallel port " + port_io::effective_port_name() + ": " + reason);
  port_io::port_write_byte(lpt_base, idle_byte);
  port_io::port_flush();
  return 1;
}

int lpt_close() {
  const ParallelCable* cable = parallel_cable(jtag_interface);
  port_io::port_write_byte(lpt_base, cable != nullptr ? release_byte(*cable) : idle_byte);
  port_io::port_write_byte(static_cast<std::uint16_t>(lpt_base + 2), 0x01);
  port_io::release();
  if (driver_needed()) port_io::port_driver_remove(driver_service);
  return 1;
}

}  // namespace dz
