// Fuzz target: BOOTME datagrams, the reply to the TFTP write request and acknowledgements, and
// the detail lines built from whatever a datagram carried.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "ethernet/ethernet_download.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::span<const std::uint8_t> input(data, size);
  dz::BootmeInfo info;
  if (dz::parse_bootme(input, info)) {
    if (std::strlen(info.device_name) > 16 || std::strlen(info.platform_id) > 16) __builtin_trap();
    dz::DeviceRecord record{info, 1};
    for (const auto& line : dz::device_detail_lines(record))
      if (line.size() >= 260) __builtin_trap();
  }
  // A 64-byte datagram built from the input, so that the parser's field handling is reached.
  if (size >= 4) {
    std::uint8_t datagram[64] = {'E', 'D', 'B', 'G'};
    std::memcpy(datagram + 4, data, size < 60 ? size : 60);
    if (!dz::parse_bootme(datagram, info)) __builtin_trap();
    if (info.device_name[16] != '\0' || info.platform_id[16] != '\0') __builtin_trap();
  }
  std::uint16_t block = size > 0 ? data[0] : 0;
  std::uint32_t granted = dz::check_start_reply(input, block);
  if (granted != 0 && granted != 512 && granted != 1024) __builtin_trap();
  std::uint16_t number = 0;
  if (dz::parse_ack(input, number) && (size < 4 || data[1] != 4)) __builtin_trap();
  return 0;
}
