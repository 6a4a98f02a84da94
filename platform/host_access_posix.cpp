// Host facts on Linux: getuid/getgroups, /proc/self/status for the effective capabilities,
// stat(2), opendir(3), and the security.capability extended attribute of a program file.
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "platform/host_access.h"

namespace dz::host {

namespace {

constexpr unsigned cap_net_bind_service = 10;

// Bit 10 of the hexadecimal CapEff line of /proc/self/status.
bool effective_bind_capability() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    const std::uint64_t bits = std::strtoull(line.c_str() + 7, nullptr, 16);
    return (bits >> cap_net_bind_service) & 1u;
  }
  return false;
}

std::uint32_t le32(const unsigned char* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

Identity current_identity() {
  Identity who;
  who.uid = static_cast<unsigned>(::getuid());
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr)
    who.name = entry->pw_name;
  else
    who.name = std::to_string(who.uid);
  who.gids.push_back(static_cast<unsigned>(::getgid()));
  const int count = ::getgroups(0, nullptr);
  if (count > 0) {
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
      const unsigned gid = static_cast<unsigned>(groups[static_cast<std::size_t>(i)]);
      if (std::find(who.gids.begin(), who.gids.end(), gid) == who.gids.end())
        who.gids.push_back(gid);
    }
  }
  who.can_bind_low_ports = effective_bind_capability();
  return who;
}

std::optional<FileInfo> file_info(const std::string& path) {
  struct stat facts {};
  if (::stat(path.c_str(), &facts) != 0) return std::nullopt;
  FileInfo info;
  info.uid = static_cast<unsigned>(facts.st_uid);
  info.gid = static_cast<unsigned>(facts.st_gid);
  info.mode = static_cast<unsigned>(facts.st_mode) & 07777u;
  info.character_device = S_ISCHR(facts.st_mode);
  info.directory = S_ISDIR(facts.st_mode);
  return info;
}

std::vector<std::string> directory_names(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::string> read_small_file(const std::string& path, std::size_t limit) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(limit, '\0');
  file.read(text.data(), static_cast<std::streamsize>(limit));
  if (file.bad()) return std::nullopt;
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

std::string executable_path() {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

bool file_has_bind_capability(const std::string& path) {
  // struct vfs_cap_data: magic and flags, then permitted and inheritable words (low 32 bits
  // first); the flag bit 0 makes the permitted set effective at exec.
  std::array<unsigned char, 24> data{};
  const ssize_t length = ::getxattr(path.c_str(), "security.capability", data.data(), data.size());
  if (length < 12) return false;
  const std::uint32_t magic = le32(data.data());
  const std::uint32_t permitted = le32(data.data() + 4);
  return (magic & 1u) != 0 && ((permitted >> cap_net_bind_service) & 1u) != 0;
}

}  // namespace dz::host
