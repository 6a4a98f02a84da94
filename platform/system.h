#pragma once
// Facts about the running system that program entry records.
#include <string>

namespace dz {

// 1 on the Windows NT family (GetVersionExA reports platform id 2), where direct port access
// needs the port driver; 0 elsewhere.
int platform_is_nt();

// The process's current directory ("" when it cannot be read).
std::string current_directory();

}  // namespace dz
