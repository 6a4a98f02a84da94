// remote_bitbang requests applied to the simulated processor's JTAG pins.
#include "sim/remote_bitbang.h"

#include "platform/clock.h"

namespace dz::sim {

bool BitbangSession::feed(const std::uint8_t* data, std::size_t size, std::string& reply) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = data[i];
    ++requests_;
    if (c >= '0' && c <= '7') {
      const int v = c - '0';
      cpu_.set_jtag_pins((v & 4) != 0, (v & 2) != 0, (v & 1) != 0);
      clock::advance_us(1);
    } else if (c == 'R') {
      reply.push_back(cpu_.tdo() ? '1' : '0');
    } else if (c >= 'r' && c <= 'u') {
      const int v = c - 'r';
      cpu_.set_trst((v & 2) != 0);
      cpu_.set_srst((v & 1) != 0);
    } else if (c == 'B' || c == 'b') {
      led_ = c == 'B';
    } else if (c == 'Q') {
      return false;
    }
  }
  return true;
}

}  // namespace dz::sim
