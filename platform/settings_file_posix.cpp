// The settings file on POSIX systems: reading, atomic replacement that keeps the file's mode and
// follows symbolic links, the lock beside it, and the file as the platform's store.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/settings_file.h"
#include "platform/settings_store.h"

namespace dz::settings {

namespace file {
namespace {

std::string error_text(int error) {
  return std::strerror(error);
}

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

// Makes the new file `path` holding `text`; `finish(fd)` may set its mode and owner before the
// text is flushed to disk. Removes the file again when any step fails.
template <typename Finish>
bool write_new_file(const std::string& path, const std::string& text, std::string& error,
                    Finish finish) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = error_text(errno);
    return false;
  }
  bool ok = write_all(fd, text) && finish(fd) && ::fsync(fd) == 0;
  if (!ok) error = error_text(errno);
  if (::close(fd) != 0 && ok) {
    error = error_text(errno);
    ok = false;
  }
  if (!ok) ::unlink(path.c_str());
  return ok;
}

std::string folder_of(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// The superuser may write anything; a file or folder without any write permission bit is still
// taken as read-only for it, as the user meant it.
bool writable(const std::string& path, const struct stat& st) {
  if (::access(path.c_str(), W_OK) != 0) return false;
  return ::geteuid() != 0 || (st.st_mode & 0222) != 0;
}

}  // namespace

std::string resolve(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return current;
    target.resize(static_cast<std::size_t>(n));
    if (target.front() != '/') target = folder_of(current) + "/" + target;
    current = target;
  }
  return current;  // a loop of links: whatever is done with it fails cleanly
}

ReadStatus read(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return ReadStatus::missing;
    error = error_text(errno);
    return ReadStatus::failed;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return ReadStatus::not_regular;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = error_text(errno);
    return errno == ENOENT ? ReadStatus::missing : ReadStatus::failed;
  }
  ReadStatus status = ReadStatus::ok;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // replaced between the two looks
    error = "not a regular file";
    status = ReadStatus::not_regular;
  }
  char buffer[8192];
  while (status == ReadStatus::ok) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = error_text(errno);
      status = ReadStatus::failed;
    } else if (n == 0) {
      break;
    } else if (text.size() + static_cast<std::size_t>(n) > max_file_size) {
      error = "larger than 1 MiB";
      status = ReadStatus::failed;
    } else {
      text.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  if (status != ReadStatus::ok) text.clear();
  return status;
}

bool replaceable(const std::string& path, std::string& error) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) {
      error = "not a regular file";
      return false;
    }
    if (!writable(path, st)) {
      error = "the file is read-only";
      return false;
    }
  } else if (errno != ENOENT) {
    error = error_text(errno);
    return false;
  }
  const std::string folder = folder_of(path);
  if (::stat(folder.c_str(), &st) != 0) {
    error = error_text(errno);
    return false;
  }
  if (!writable(folder, st)) {
    error = "its folder is read-only";
    return false;
  }
  return true;
}

bool replace(const std::string& path, const std::string& text, std::string& error) {
  if (!replaceable(path, error)) return false;
  mode_t mode = 0600;
  struct stat st;
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists) mode = st.st_mode & 07777;
  const std::string temp = path + ".tmp." + std::to_string(::getpid());
  const bool written = write_new_file(temp, text, error, [&](int fd) {
    if (::fchmod(fd, mode) != 0) return false;
    if (exists && ::geteuid() == 0) {
      // The superuser keeps the file its owner's; failing that changes nothing else.
      [[maybe_unused]] const int owned = ::fchown(fd, st.st_uid, st.st_gid);
    }
    return true;
  });
  if (!written) return false;
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = error_text(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

bool create_new(const std::string& path, const std::string& text, std::string& error) {
  return write_new_file(path, text, error, [](int) { return true; });
}

Lock::~Lock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing releases the lock
}

bool Lock::acquire(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) {
    error = "cannot make the lock file " + path + ": " + error_text(errno);
    return false;
  }
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    error = "cannot lock " + path + ": " + error_text(errno);
    ::close(fd);
    return false;
  }
  handle_ = fd;
  return true;
}

}  // namespace file

std::unique_ptr<Store> make_platform_store() {
  return make_file_store(file::default_path());
}

}  // namespace dz::settings
