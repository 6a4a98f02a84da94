#include "flash/jtag_download.h"

#include "bscan/bus.h"
#include "bscan/cpu.h"
#include "flash/nand_flash.h"
#include "flash/strata_flash.h"
#include "jtag/cable.h"
#include "jtag/usb_adapter.h"
#include "platform/clock.h"
#include "resources/resource.h"

namespace dz {

const FlashDriver flash_drivers[flash_driver_count] = {nand_flash_driver, strata_flash_driver};
std::uint32_t current_flash_driver = flash_driver_count;

namespace {
// Between identification attempts: keeps a failing adapter from spinning the processor and
// repeating its message without a breath; the stop flag is still polled once per retry.
constexpr std::uint32_t retry_pause_ms = 50;

const FlashDriver& current() {
  return flash_drivers[current_flash_driver];
}
}  // namespace

int flash_probe_all() {
  for (current_flash_driver = 0; current_flash_driver < flash_driver_count; ++current_flash_driver)
    if (current().probe()) return 1;
  return 0;
}

std::uint32_t jtag_detect(ui::Window dialog) {
  if (!jtag_open_cable()) {
    ui::send_command(dialog, ui::Command{ui::IDCANCEL, 0, 0, {}});
    jtag_close_cable();
    return 0;
  }
  // The USB adapter's name when one is open; parallel cables show an empty line.
  ui::set_text(dialog, IDC_DETECT_STATUS, usb_device_name);
  // A failing reopen is told to the user once per detection; later rounds retry quietly (a lost
  // remote port would otherwise raise a message box on every round).
  bool open_failure_told = false;
  for (bool opened = true;;) {
    // Every round starts from Test-Logic-Reset: a module switched on since the last round may
    // have seen only part of a scan, and its TAP is then out of step with the cable.
    if (opened) {
      jtag_reset_tap(1);
      if (cpu_identify()) {
        ui::send_command(dialog, ui::Command{ui::IDOK, 0, 0, {}});
        return 1;
      }
    }
    jtag_close_cable();
    opened = jtag_open_cable(open_failure_told ? 0 : 1) != 0;
    if (!opened) open_failure_told = true;
    if (stop_flag.load()) {
      jtag_close_cable();
      return 0;
    }
    clock::sleep_ms(retry_pause_ms);
  }
}

int jtag_open(ui::Window) {
  bs_start();
  if (flash_probe_all() && current().prepare()) return 1;
  jtag_close_cable();
  return 0;
}

// The job calls these only after a successful open; without a current driver they fail.
int jtag_erase(std::uint32_t start, std::uint32_t length) {
  return current_flash_driver < flash_driver_count ? current().erase(start, length) : 0;
}

int jtag_write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  return current_flash_driver < flash_driver_count ? current().write(buffer, address, length) : 0;
}

int jtag_verify(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length) {
  return current_flash_driver < flash_driver_count ? current().verify(buffer, address, length) : 0;
}

std::uint32_t jtag_first_block_span() {
  if (current_flash_driver >= flash_driver_count) return 0;
  return current().first_block_span ? current().first_block_span() : 0;
}

int jtag_close() {
  if (current_flash_driver < flash_driver_count) current().finish();
  jtag_close_cable();
  return 1;
}

}  // namespace dz
