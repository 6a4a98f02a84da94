#pragma once
// BOOTME announcements: the EDBG datagram that a module's bootloader broadcasts while it waits
// for a download, and the record kept for every module known by name.
#include <cstdint>
#include <span>
#include <string_view>

namespace dz {

inline constexpr std::size_t bootme_datagram_size = 64;
inline constexpr std::size_t edbg_header_size = 8;
inline constexpr std::size_t device_name_capacity = 17;  // 16 characters and the terminator

// The 56 bytes after the EDBG header, field by field as stored (nothing is byte-swapped).
struct BootmeInfo {
  std::uint8_t version_major = 0;
  std::uint8_t version_minor = 0;
  std::uint8_t mac[6] = {};
  std::uint8_t ip[4] = {};  // first number of the dotted form first
  char platform_id[17] = {};
  char device_name[device_name_capacity] = {};
  std::uint8_t cpu_id = 0;
  std::uint8_t bootme_version = 0;
  std::uint32_t boot_flags = 0;
  std::uint16_t download_port = 0;
  std::uint16_t service_port = 0;
};
static_assert(sizeof(BootmeInfo) == 56, "BootmeInfo is the 56-byte info block");

// A module known by name: its last announcement, and whether one arrived in this run (a record
// restored from the settings holds only the name).
struct DeviceRecord {
  BootmeInfo info;
  std::uint32_t valid = 0;
};
static_assert(sizeof(DeviceRecord) == 60, "DeviceRecord is 60 bytes");

// Reads a received datagram: true when it is exactly 64 bytes and starts with "EDBG"; then `info`
// holds bytes 8 to 63. The texts are always terminated within their fields, even when the
// datagram's are not.
bool parse_bootme(std::span<const std::uint8_t> datagram, BootmeInfo& info);

// `info` with `name` as its device name (cut to 16 characters) and every other field zero.
BootmeInfo bootme_info_named(std::string_view name);

}  // namespace dz
