#pragma once
// The "Ethernet Interface" record of download_interfaces: waits for the module's BOOTME, sends
// the file by TFTP and tells the module to jump into it; its settings dialog lists the modules.
#include <cstdint>
#include <string>
#include <vector>

#include "download/interface.h"
#include "ethernet/bootme.h"
#include "ethernet/device_list.h"
#include "ethernet/tftp.h"

namespace dz {

std::uint32_t ethernet_detect(ui::Window dialog);
int ethernet_open(ui::Window dialog);
int ethernet_write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int ethernet_close();
int ethernet_settings_dialog(ui::Window owner);

// How long close waits for the module's answer to the jump command.
inline constexpr std::uint32_t jump_answer_timeout_ms = 200000;

// The eleven detail lines of a module in the settings dialog.
std::vector<std::string> device_detail_lines(const DeviceRecord& record);

inline constexpr DownloadInterface ethernet_download_interface{
    .name = "Ethernet Interface",
    .detect = ethernet_detect,
    .open = ethernet_open,
    .erase = noop_erase,
    .write = ethernet_write,
    .verify = nullptr,
    .close = ethernet_close,
    .load_settings = load_ethernet_settings,
    .settings_dialog = ethernet_settings_dialog,
    .save_settings = save_ethernet_settings,
    .monitor = nullptr,
    .streams_whole_file = 1,
    .first_block_span = nullptr};

}  // namespace dz
