// Reading BOOTME datagrams.
#include "ethernet/bootme.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace dz {

bool parse_bootme(std::span<const std::uint8_t> datagram, BootmeInfo& info) {
  if (datagram.size() != bootme_datagram_size) return false;
  if (std::memcmp(datagram.data(), "EDBG", 4) != 0) return false;
  const std::uint8_t* p = datagram.data() + edbg_header_size;
  BootmeInfo out;
  out.version_major = p[0];
  out.version_minor = p[1];
  std::memcpy(out.mac, p + 2, 6);
  std::memcpy(out.ip, p + 8, 4);
  std::memcpy(out.platform_id, p + 12, 17);
  std::memcpy(out.device_name, p + 29, 17);
  out.platform_id[16] = '\0';
  out.device_name[16] = '\0';
  out.cpu_id = p[46];
  out.bootme_version = p[47];
  out.boot_flags = std::uint32_t{p[48]} | (std::uint32_t{p[49]} << 8) |
                   (std::uint32_t{p[50]} << 16) | (std::uint32_t{p[51]} << 24);
  // The ports are kept as the module's little-endian processor stores them.
  out.download_port = static_cast<std::uint16_t>(p[52] | (p[53] << 8));
  out.service_port = static_cast<std::uint16_t>(p[54] | (p[55] << 8));
  info = out;
  return true;
}

BootmeInfo bootme_info_named(std::string_view name) {
  BootmeInfo info;
  std::size_t n = std::min(name.size(), device_name_capacity - 1);
  std::memcpy(info.device_name, name.data(), n);
  return info;
}

}  // namespace dz
