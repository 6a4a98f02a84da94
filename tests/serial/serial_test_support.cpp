// Shared pieces of the serial suites.
#include "tests/serial/serial_test_support.h"

#include "tests/image/image_builder.h"

namespace dz::test {

std::vector<std::uint8_t> wince_image(const std::vector<std::size_t>& record_sizes,
                                      std::uint32_t seed) {
  std::vector<testing::ImageRecord> records;
  std::uint32_t address = 0x80000000;
  for (auto size : record_sizes) {
    auto data = random_bytes(size, seed + static_cast<std::uint32_t>(records.size()));
    std::uint32_t sum = 0;
    for (auto b : data) sum += b;
    records.push_back({address, std::move(data), sum});
    address += static_cast<std::uint32_t>(size);
  }
  return testing::make_image(0x80000000, address - 0x80000000, records);
}

serial::PseudoTerminal pseudo_terminal() {
  serial::PseudoTerminal pty;
  std::string error;
  EXPECT_TRUE(serial::open_pseudo_terminal(pty, error)) << error;
  return pty;
}

bool pseudo_terminals_available() {
  serial::PseudoTerminal pty;
  std::string error;
  return serial::open_pseudo_terminal(pty, error);
}

}  // namespace dz::test
