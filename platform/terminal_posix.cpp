// Terminal facts from isatty and TIOCGWINSZ.
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace dz::terminal {

bool stdout_is_terminal() {
  return isatty(STDOUT_FILENO) == 1;
}
bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}
bool stdin_is_terminal() {
  return isatty(STDIN_FILENO) == 1;
}

int columns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace dz::terminal
