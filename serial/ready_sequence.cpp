// Matching the ready sequence byte by byte.
#include "serial/ready_sequence.h"

namespace dz {

std::size_t ReadyMatcher::scan(std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = bytes[i];
    if (position_ < serial_ready_sequence.size() && b == serial_ready_sequence[position_]) {
      ++position_;
    } else {
      position_ = b == serial_ready_sequence[0] ? 1 : 0;
    }
    if (position_ == serial_ready_sequence.size()) return i;
  }
  return bytes.size();
}

}  // namespace dz
