#pragma once
// The "JTag Interface" record of download_interfaces (operations not built yet: every slot empty).
#include "download/interface.h"

namespace dz {

inline constexpr DownloadInterface jtag_download_interface{"JTag Interface"};

}  // namespace dz
