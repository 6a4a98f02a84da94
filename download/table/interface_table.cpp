// The table of download interfaces, in the order of the main window's radio buttons.
#include "download/interface.h"
#include "ethernet/ethernet_download.h"
#include "flash/jtag_download.h"
#include "serial/serial_download.h"

namespace dz {

// The USB record has no operations; its radio button is disabled.
inline constexpr DownloadInterface usb_download_interface{.name = "USB Interface",
                                                          .detect = nullptr,
                                                          .open = nullptr,
                                                          .erase = nullptr,
                                                          .write = nullptr,
                                                          .verify = nullptr,
                                                          .close = nullptr,
                                                          .load_settings = nullptr,
                                                          .settings_dialog = nullptr,
                                                          .save_settings = nullptr,
                                                          .monitor = nullptr,
                                                          .streams_whole_file = 1,
                                                          .first_block_span = nullptr};

const DownloadInterface download_interfaces[interface_count] = {
    jtag_download_interface, serial_download_interface, usb_download_interface,
    ethernet_download_interface};

}  // namespace dz
