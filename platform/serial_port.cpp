// Serial port parts shared by every platform.
#include <mutex>

#include "platform/serial_port.h"

namespace dz::serial {

namespace {

struct Override {
  std::mutex mutex;  // guards name
  std::string name;
};

Override& override_state() {
  static Override o;
  return o;
}

}  // namespace

std::string com_port_override() {
  auto& o = override_state();
  std::lock_guard lock(o.mutex);
  return o.name;
}

void set_com_port_override(std::string_view name) {
  auto& o = override_state();
  std::lock_guard lock(o.mutex);
  o.name = std::string(name);
}

}  // namespace dz::serial
