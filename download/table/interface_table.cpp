// The table of download interfaces, in the order of the main window's radio buttons.
#include "download/interface.h"
#include "ethernet/ethernet_download.h"
#include "flash/jtag_download.h"
#include "serial/serial_download.h"

namespace dz {

// The USB record has no operations; its radio button is disabled.
inline constexpr DownloadInterface usb_download_interface{
    "USB Interface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr,         nullptr, nullptr, nullptr, 1,       nullptr};

const DownloadInterface download_interfaces[interface_count] = {
    jtag_download_interface, serial_download_interface, usb_download_interface,
    ethernet_download_interface};

}  // namespace dz
