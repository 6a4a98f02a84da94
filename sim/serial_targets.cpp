// Simulated serial modules: a bootloader on a pseudo-terminal that the program's serial interface
// is pointed at for the run.
#include <fstream>
#include <iterator>

#include "platform/serial_port.h"
#include "sim/serial_bootloader.h"
#include "sim/targets.h"

namespace dz::sim {

namespace {

class SerialSession : public Session {
 public:
  explicit SerialSession(std::unique_ptr<SerialBootloader> module) : module_(std::move(module)) {
    serial::set_com_port_override(module_->port_name());
  }
  ~SerialSession() override { serial::set_com_port_override(""); }

 private:
  std::unique_ptr<SerialBootloader> module_;
};

bool parse_size(const std::string& text, std::size_t& value) {
  if (text.empty() || text.size() > 12) return false;
  std::size_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<std::size_t>(c - '0');
  }
  value = v;
  return true;
}

bool parse_flag(const std::string& text, bool& value) {
  if (text.empty() || text == "1" || text == "yes" || text == "on") {
    value = true;
  } else if (text == "0" || text == "no" || text == "off") {
    value = false;
  } else {
    return false;
  }
  return true;
}

std::unique_ptr<Session> attach_serial_bootloader(const TargetOptions& options,
                                                  std::string& error) {
  SerialBootloaderConfig config;
  for (const auto& [key, value] : options) {
    bool ok = true;
    if (key == "banner") {
      ok = parse_size(value, config.banner_bytes) && config.banner_bytes <= 1024 * 1024;
    } else if (key == "split") {
      ok = parse_flag(value, config.split_ready);
    } else if (key == "broken") {
      ok = parse_flag(value, config.broken_prefix);
    } else if (key == "vanish") {
      ok = parse_size(value, config.vanish_after);
    } else if (key == "stall") {
      ok = parse_size(value, config.stall_after);
    } else if (key == "expect") {
      std::ifstream file{value, std::ios::binary};
      if (!file) {
        error = "cannot read expected image '" + value + "'";
        return nullptr;
      }
      config.expected.emplace(std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>());
    } else {
      error = "unknown option '" + key +
              "' (known: banner=BYTES, split=1, broken=1, expect=FILE, vanish=BYTES, stall=BYTES)";
      return nullptr;
    }
    if (!ok) {
      error = "bad value '" + value + "' for " + key;
      return nullptr;
    }
  }
  auto module = SerialBootloader::start(std::move(config), error);
  if (!module) return nullptr;
  return std::make_unique<SerialSession>(std::move(module));
}

constexpr TargetModel serial_models[] = {
    {"serial-bootloader", "serial",
     "module bootloader on a pseudo-terminal (banner=BYTES, split=1, broken=1, expect=FILE, "
     "vanish=BYTES, stall=BYTES)",
     attach_serial_bootloader},
};

}  // namespace

std::span<const TargetModel> serial_target_models() {
  return serial_models;
}

}  // namespace dz::sim
