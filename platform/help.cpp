// Help requests: the handler, if one is set, else the platform's HTML Help.
#include "platform/help.h"

#include <mutex>

namespace dz::help {

namespace {
struct HelpState {
  std::mutex lock;
  Handler handler;
};
HelpState& state() {
  static HelpState s;
  return s;
}
}  // namespace

Handler set_handler(Handler handler) {
  auto& s = state();
  std::lock_guard guard(s.lock);
  std::swap(s.handler, handler);
  return handler;
}

std::intptr_t html_help(ui::Window owner, const std::string& topic, unsigned command,
                        std::uintptr_t data) {
  Handler handler;
  {
    auto& s = state();
    std::lock_guard guard(s.lock);
    handler = s.handler;
  }
  if (handler) return handler(owner, topic, command, data);
  return platform_html_help(owner, topic, command, data);
}

}  // namespace dz::help
