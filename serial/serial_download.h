#pragma once
// The "Serial Interface" record of download_interfaces (operations not built yet: every slot empty).
#include "download/interface.h"

namespace dz {

inline constexpr DownloadInterface serial_download_interface{"Serial Interface"};

}  // namespace dz
