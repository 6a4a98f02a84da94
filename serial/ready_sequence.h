#pragma once
// The bootloader's ready sequence and the matcher that looks for it in the received stream.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace dz {

inline constexpr std::array<std::uint8_t, 17> serial_ready_sequence = {
    0xAA, 0x55, 0x55, 0xAA, 0x00, 0x00, 0x09, 0x00, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFA, 0x5A, 0xA5, 0x0A, 0x1A};

// Match position that survives from one read to the next. A byte that breaks a partial match
// restarts at 1 when it is the sequence's first byte, else at 0; an earlier overlapping partial
// match is not resumed.
class ReadyMatcher {
 public:
  void reset() { position_ = 0; }
  std::size_t position() const { return position_; }
  // Scans `bytes` in order. Returns the index of the byte that completes the sequence, or
  // bytes.size() when it is not complete yet. Bytes behind a completing byte are not looked at.
  std::size_t scan(std::span<const std::uint8_t> bytes);

 private:
  std::size_t position_ = 0;
};

}  // namespace dz
