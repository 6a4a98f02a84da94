#pragma once
// Writing a simulated module's console output into its end of a pseudo-terminal.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/serial_port.h"

namespace dz::sim {

// Writes `text` as the reader takes it: the program may be slow to read, so the write is tried
// again for up to about 5 s; a dead line ends the attempt.
inline void write_console(serial::Port& line, std::string_view text) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  std::size_t done = 0;
  for (int tries = 0; done < text.size() && tries < 100; ++tries) {
    const long n = line.write({data + done, text.size() - done}, 50);
    if (n < 0) break;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace dz::sim
