// POSIX has no debugger output channel; the standard-output echo is the visible copy.
#include "platform/debug.h"

namespace dz::debug {

void output_to_debugger(const std::string&) {}

}  // namespace dz::debug
