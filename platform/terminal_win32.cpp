// Terminal facts from the C runtime and the console.
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/terminal.h"

namespace dz::terminal {

bool stdout_is_terminal() {
  return _isatty(_fileno(stdout)) != 0;
}
bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}
bool stdin_is_terminal() {
  return _isatty(_fileno(stdin)) != 0;
}

int columns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

}  // namespace dz::terminal
