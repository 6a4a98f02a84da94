// Debug lines go to the debugger through OutputDebugStringA.
#include <windows.h>

#include "platform/debug.h"

namespace dz::debug {

void output_to_debugger(const std::string& line) {
  OutputDebugStringA(line.c_str());
}

}  // namespace dz::debug
