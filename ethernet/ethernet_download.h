#pragma once
// The "Ethernet Interface" record of download_interfaces (operations not built yet: every slot empty).
#include "download/interface.h"

namespace dz {

inline constexpr DownloadInterface ethernet_download_interface{"Ethernet Interface"};

}  // namespace dz
