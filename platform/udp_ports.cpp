// The EDBG port numbers: 980 for users, moved by tests and by a simulated module.
#include <atomic>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "platform/udp.h"

namespace dz::udp {
namespace {

std::atomic<std::uint16_t> bootme_override{0};
std::atomic<std::uint16_t> module_override{0};

std::uint16_t port_from_environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return edbg_port;
  std::string_view text(value);
  unsigned port = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size() || port == 0 || port > 65535)
    return edbg_port;
  return static_cast<std::uint16_t>(port);
}

}  // namespace

std::uint16_t bootme_listen_port() {
  std::uint16_t p = bootme_override.load();
  return p != 0 ? p : port_from_environment("DIVIDEZURIRER_TEST_BOOTME_PORT");
}

std::uint16_t module_port() {
  std::uint16_t p = module_override.load();
  return p != 0 ? p : port_from_environment("DIVIDEZURIRER_TEST_MODULE_PORT");
}

void set_edbg_ports(std::uint16_t bootme_listen, std::uint16_t module) {
  bootme_override = bootme_listen;
  module_override = module;
}

}  // namespace dz::udp
