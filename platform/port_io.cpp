// Port access: the current backend, the choice of port by name, opening and releasing.
#include "platform/port_io.h"

#include <algorithm>
#include <charconv>

namespace dz::port_io {
namespace {

class NullPort final : public Backend {
 public:
  void write(std::uint16_t, std::uint8_t) override {}
  std::uint8_t read(std::uint16_t) override { return 0xFF; }
};

NullPort null_port;

struct PortState {
  std::string name;      // the "ParallelPort" setting
  std::string override;  // --port for this run
  Backend* simulated = nullptr;
  std::unique_ptr<Backend> owned;  // the backend acquire() opened
  bool acquired = false;
};

PortState& state() {
  static PortState s;
  return s;
}

}  // namespace

void Backend::take_reads(std::uint8_t* values, std::size_t count) {
  const std::size_t n = count < later_.size() ? count : later_.size();
  std::copy_n(later_.begin(), n, values);
  std::fill_n(values + n, count - n, std::uint8_t{0xFF});
  later_.erase(later_.begin(), later_.begin() + static_cast<std::ptrdiff_t>(n));
}

namespace detail {
Backend* current = &null_port;
}

void set_port_name(std::string name) {
  state().name = std::move(name);
}
std::string port_name() {
  return state().name;
}
void set_port_override(std::string name) {
  state().override = std::move(name);
}
std::string port_override() {
  return state().override;
}

std::string effective_port_name() {
  if (!state().override.empty()) return state().override;
  if (!state().name.empty()) return state().name;
  return default_port_name();
}

void set_simulated_port(Backend* backend) {
  state().simulated = backend;
}
Backend* simulated_port() {
  return state().simulated;
}

namespace {
constexpr std::string_view remote_prefix = "remote:";
}  // namespace

bool is_remote_name(std::string_view name) {
  return name.starts_with(remote_prefix);
}

bool parse_remote_name(std::string_view name, std::string& host, std::uint16_t& tcp_port) {
  if (!is_remote_name(name)) return false;
  name.remove_prefix(remote_prefix.size());
  auto colon = name.rfind(':');
  if (colon == std::string_view::npos || colon == 0 || colon + 1 >= name.size()) return false;
  std::string_view number = name.substr(colon + 1);
  unsigned value = 0;
  auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec != std::errc{} || end != number.data() + number.size() || value == 0 || value > 65535)
    return false;
  host.assign(name.substr(0, colon));
  tcp_port = static_cast<std::uint16_t>(value);
  return true;
}

bool acquire(std::uint16_t base, std::uint32_t kind, const CableWiring& wiring,
             std::string& reason) {
  release();
  PortState& s = state();
  Backend* backend = s.simulated;
  if (backend == nullptr) {
    std::string name = effective_port_name();
    std::string host;
    std::uint16_t tcp_port = 0;
    if (parse_remote_name(name, host, tcp_port))
      s.owned = open_remote_bitbang(host, tcp_port, wiring, reason);
    else if (is_remote_name(name))
      reason = "bad remote port \"" + name + "\" (expected remote:HOST:PORT)";
    else
      s.owned = open_hardware_port(name, base, reason);
    backend = s.owned.get();
    if (backend == nullptr) return false;
  }
  backend->opened(base, kind);
  detail::current = backend;
  s.acquired = true;
  return true;
}

void release() {
  PortState& s = state();
  detail::current->flush();
  detail::current = &null_port;
  s.owned.reset();
  s.acquired = false;
}

bool acquired() {
  return state().acquired;
}

void use_backend(Backend* backend) {
  detail::current = backend ? backend : &null_port;
}

std::unique_ptr<Backend> make_null_port() {
  return std::make_unique<NullPort>();
}

}  // namespace dz::port_io
