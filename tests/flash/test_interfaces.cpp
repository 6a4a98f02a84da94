// The table of download interfaces for these tests: the real JTAG record; the other paths are
// never selected here.
#include "download/interface.h"
#include "flash/jtag_download.h"

namespace dz {

const DownloadInterface download_interfaces[interface_count] = {
    jtag_download_interface,
    DownloadInterface{"Serial Interface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, 1, nullptr},
    DownloadInterface{"USB Interface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, 1, nullptr},
    DownloadInterface{"Ethernet Interface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, 1, nullptr},
};

}  // namespace dz
