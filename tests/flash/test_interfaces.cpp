// The table of download interfaces for these tests: the real JTAG record; the other paths are
// never selected here.
#include "download/interface.h"
#include "flash/jtag_download.h"

namespace dz {

const DownloadInterface download_interfaces[interface_count] = {
    jtag_download_interface,
    DownloadInterface{"Serial Interface"},
    DownloadInterface{"USB Interface"},
    DownloadInterface{"Ethernet Interface"},
};

}  // namespace dz
