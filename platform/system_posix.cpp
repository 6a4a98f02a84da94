// System facts on POSIX: never the NT family; the directory from getcwd.
#include <limits.h>
#include <unistd.h>

#include <vector>

#include "platform/system.h"

namespace dz {

int platform_is_nt() {
  return 0;
}

std::string current_directory() {
  std::vector<char> buffer(PATH_MAX + 1, '\0');
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return {};
  return std::string(buffer.data());
}

}  // namespace dz
