// No HTML Help viewer outside Windows: a help request shows nothing and returns 0. The pages
// themselves are plain HTML, shown by the desktop's browser through xdg-open.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/help.h"

extern char** environ;

namespace dz::help {

void set_control_library(std::string) {}

std::intptr_t platform_html_help(ui::Window, const std::string&, unsigned, std::uintptr_t) {
  return 0;
}

std::string program_directory() {
  std::vector<char> path(4096);
  const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  if (length <= 0) return "";
  std::string text(path.data(), static_cast<std::size_t>(length));
  const std::size_t slash = text.rfind('/');
  return slash == std::string::npos ? "" : text.substr(0, slash == 0 ? 1 : slash);
}

bool open_document(const std::string& target, std::string& error) {
  // The launcher is found on PATH; its own output stays on the terminal.
  const char* launcher = "xdg-open";
  std::vector<char> program(launcher, launcher + std::strlen(launcher) + 1);
  std::vector<char> argument(target.begin(), target.end());
  argument.push_back('\0');
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  const int rc = ::posix_spawnp(&child, launcher, nullptr, nullptr, argv, environ);
  if (rc != 0) {
    error = std::string("cannot run xdg-open: ") + std::strerror(rc);
    return false;
  }
  int status = 0;
  pid_t done;
  do done = ::waitpid(child, &status, 0);
  while (done < 0 && errno == EINTR);
  if (done < 0) {
    error = std::string("xdg-open: ") + std::strerror(errno);
    return false;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    error = "xdg-open could not open " + target +
            (WIFEXITED(status) ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                               : std::string(" (it was stopped by a signal)"));
    return false;
  }
  return true;
}

}  // namespace dz::help
