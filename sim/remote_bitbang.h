#pragma once
// The server side of OpenOCD's remote_bitbang protocol in front of a simulated processor: one
// ASCII byte per request ('0'..'7' pins, 'R' read TDO, 'r'..'u' reset lines, 'B'/'b' LED,
// 'Q' quit). Every 'R' is answered at once, in order, so a client may pipeline requests.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/pxa.h"

namespace dz::sim {

class BitbangSession {
 public:
  explicit BitbangSession(Pxa& cpu) : cpu_(cpu) {}
  // Handles `size` request bytes and appends the answers to `reply`. Returns false once 'Q' was
  // seen (bytes after it are ignored). Unknown bytes are ignored.
  bool feed(const std::uint8_t* data, std::size_t size, std::string& reply);
  bool led() const { return led_; }
  std::uint64_t requests() const { return requests_; }

 private:
  Pxa& cpu_;
  bool led_ = false;
  std::uint64_t requests_ = 0;
};

}  // namespace dz::sim
