// No HTML Help viewer outside Windows: a help request shows nothing and returns 0.
#include "platform/help.h"

namespace dz::help {

std::intptr_t platform_html_help(ui::Window, const std::string&, unsigned, std::uintptr_t) {
  return 0;
}

}  // namespace dz::help
