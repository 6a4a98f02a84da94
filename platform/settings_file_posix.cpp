// The settings file on POSIX systems: atomic replacement, and the file as the platform's store.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/settings_file.h"
#include "platform/settings_store.h"

namespace dz::settings {

namespace file {
namespace {

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

bool write_atomically(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = write_all(fd, text) && ::fsync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace file

std::unique_ptr<Store> make_platform_store() {
  return make_file_store(file::default_path());
}

}  // namespace dz::settings
