#pragma once
// The "JTag Interface" record of download_interfaces: detection with retries, boundary-scan
// set-up, the flash drivers probed in order, and erase/write/verify forwarded to the driver that
// answered.
#include <cstdint>

#include "download/interface.h"
#include "flash/flash_driver.h"
#include "jtag/settings.h"

namespace dz {

std::uint32_t jtag_detect(ui::Window dialog);
int jtag_open(ui::Window window);
int jtag_erase(std::uint32_t start, std::uint32_t length);
int jtag_write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int jtag_verify(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int jtag_close();
std::uint32_t jtag_first_block_span();

inline constexpr DownloadInterface jtag_download_interface{
    .name = "JTag Interface",
    .detect = jtag_detect,
    .open = jtag_open,
    .erase = jtag_erase,
    .write = jtag_write,
    .verify = jtag_verify,
    .close = jtag_close,
    .load_settings = jtag_load_settings,
    .settings_dialog = jtag_settings_dialog,
    .save_settings = jtag_save_settings,
    .monitor = nullptr,
    .streams_whole_file = 0,
    .first_block_span = jtag_first_block_span};

}  // namespace dz
