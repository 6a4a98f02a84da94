// Serial ports on POSIX terminals: termios raw 8N1 at 115200, non-blocking descriptors whose
// reads return at once, TIOCEXCL for exclusive use, POLLHUP for a port that went away.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "platform/clock_real.h"
#include "platform/serial_port.h"

namespace dz::serial {

namespace {

int fd_of(std::intptr_t handle) {
  return static_cast<int>(handle);
}

// poll() that survives signals, for at most `timeout_ms` in total. Returns revents (0 on time-out).
short poll_for(int fd, short events, std::uint32_t timeout_ms) {
  const std::uint64_t deadline = clock::real::now_us() + std::uint64_t{timeout_ms} * 1000;
  for (;;) {
    pollfd p{fd, events, 0};
    const std::uint64_t now = clock::real::now_us();
    const int left = now >= deadline ? 0 : static_cast<int>((deadline - now + 999) / 1000);
    const int n = ::poll(&p, 1, left);
    if (n > 0) return p.revents;
    if (n == 0) return 0;
    if (errno != EINTR) return POLLERR;
  }
}

// A descriptor reporting POLLHUP may still hold unread input (a device that said its last words);
// it is gone only when nothing is left to read.
bool has_pending_input(int fd) {
  int pending = 0;
  return ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0;
}

void make_raw(termios& t) {
  const cc_t vmin = t.c_cc[VMIN];
  const cc_t vtime = t.c_cc[VTIME];
  ::cfmakeraw(&t);
  t.c_cc[VMIN] = vmin;
  t.c_cc[VTIME] = vtime;
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
}

void set_8n1_115200(termios& t) {
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
  t.c_cflag |= CS8;
  ::cfsetispeed(&t, B115200);
  ::cfsetospeed(&t, B115200);
}

}  // namespace

Port Port::open(const std::string& name, OpenError* error) {
  auto fail = [&](OpenError e) {
    if (error) *error = e;
    return Port{};
  };
  if (name.empty()) return fail(OpenError::not_found);
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    switch (errno) {
      case ENOENT:
      case ENODEV:
      case ENXIO:
      case ENOTDIR:
        return fail(OpenError::not_found);
      case EBUSY:
        return fail(OpenError::in_use);
      default:
        return fail(OpenError::other);
    }
  }
  Port port{fd};
  if (!::isatty(fd)) return fail(OpenError::other);  // a plain file is no port
  // Exclusive use: a second open of the line fails with EBUSY (except for root).
  ::ioctl(fd, TIOCEXCL);
  if (error) *error = OpenError::none;
  return port;
}

void Port::Close::release(std::intptr_t handle) {
  const int fd = fd_of(handle);
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);
}

void Port::close() {
  handle_.reset();
}

void Port::configure_line() {
  if (!is_open()) return;
  termios t{};
  if (::tcgetattr(fd_of(handle_.get()), &t) != 0) return;
  make_raw(t);
  set_8n1_115200(t);
  ::tcsetattr(fd_of(handle_.get()), TCSANOW, &t);
}

void Port::set_speed_and_framing() {
  if (!is_open()) return;
  termios t{};
  if (::tcgetattr(fd_of(handle_.get()), &t) != 0) return;
  set_8n1_115200(t);
  ::tcsetattr(fd_of(handle_.get()), TCSANOW, &t);
}

void Port::set_immediate_reads() {
  if (!is_open()) return;
  const int fd = fd_of(handle_.get());
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

void Port::set_read_timeouts(const ReadTimeouts& timeouts) {
  if (!is_open()) return;
  const int fd = fd_of(handle_.get());
  termios t{};
  if (::tcgetattr(fd, &t) == 0) {
    make_raw(t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
  }
  timeouts_ = timeouts;
}

long Port::read_timed(std::span<std::uint8_t> buffer) {
  if (!is_open()) return -1;
  if (buffer.empty()) return 0;
  const std::uint64_t total_us =
      (std::uint64_t{timeouts_.multiplier} * buffer.size() + timeouts_.constant) * 1000;
  const std::uint64_t deadline = clock::real::now_us() + total_us;
  std::size_t got = 0;
  while (got < buffer.size()) {
    // Before the first byte only the total counts; after it, also the gap to the next byte.
    const std::uint64_t now = clock::real::now_us();
    if (total_us != 0 && now >= deadline) break;
    std::uint64_t wait_us = total_us != 0 ? deadline - now : std::uint64_t{60000} * 1000;
    if (got > 0 && timeouts_.interval != 0)
      wait_us = std::min<std::uint64_t>(wait_us, std::uint64_t{timeouts_.interval} * 1000);
    const Wait w = wait_readable(static_cast<std::uint32_t>((wait_us + 999) / 1000));
    if (w == Wait::timeout) {
      if (got > 0 && timeouts_.interval != 0) break;
      continue;
    }
    if (w == Wait::hangup) return got > 0 ? static_cast<long>(got) : -1;
    const long n = read(buffer.subspan(got));
    if (n < 0) return got > 0 ? static_cast<long>(got) : -1;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long>(got);
}

Wait Port::wait_readable(std::uint32_t timeout_ms) {
  if (!is_open()) return Wait::hangup;
  const int fd = fd_of(handle_.get());
  const short revents = poll_for(fd, POLLIN, timeout_ms);
  if (revents == 0) return Wait::timeout;
  // A hung-up terminal reports POLLIN as well, and read() then returns 0 for ever.
  if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
    return has_pending_input(fd) ? Wait::ready : Wait::hangup;
  }
  return Wait::ready;
}

long Port::read(std::span<std::uint8_t> buffer) {
  if (!is_open()) return -1;
  if (buffer.empty()) return 0;
  const int fd = fd_of(handle_.get());
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) return static_cast<long>(n);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    if (n == 0) {
      // Nothing arrived, or the line is gone: only poll can tell.
      const short revents = poll_for(fd, POLLIN, 0);
      return (revents & (POLLHUP | POLLERR | POLLNVAL)) ? -1 : 0;
    }
    return -1;  // EIO: the other side has gone
  }
}

long Port::write(std::span<const std::uint8_t> data, std::uint32_t timeout_ms) {
  if (!is_open()) return -1;
  const int fd = fd_of(handle_.get());
  const std::uint64_t deadline = clock::real::now_us() + std::uint64_t{timeout_ms} * 1000;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;  // EIO: gone
    const std::uint64_t now = clock::real::now_us();
    if (now >= deadline) break;
    const short revents =
        poll_for(fd, POLLOUT, static_cast<std::uint32_t>((deadline - now + 999) / 1000));
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) break;
  }
  if (done == 0 && !data.empty()) {
    // Distinguish "the line is gone" from "nothing could go out in time".
    const short revents = poll_for(fd, POLLOUT, 0);
    if (revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
  }
  return static_cast<long>(done);
}

std::string test_log_port() {
  const auto ports = list_ports();
  return ports.empty() ? std::string() : ports.front();
}

std::size_t port_name_capacity() {
  return 256;
}

std::string default_port_name() {
  return "/dev/ttyS0";
}

std::vector<std::string> list_ports_under(const std::string& sys_class_tty,
                                          const std::string& dev_dir) {
  namespace fs = std::filesystem;
  static const std::regex port_name{"tty(S|USB|ACM)[0-9]+"};
  std::vector<std::string> ports;
  std::error_code ec;
  fs::directory_iterator it{sys_class_tty, ec};
  if (ec) return ports;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (!std::regex_match(name, port_name)) continue;
    if (name.starts_with("ttyS")) {
      // The 8250 driver registers slots without hardware; their type reads 0.
      std::ifstream type_file{entry.path() / "type"};
      int type = -1;
      if (type_file >> type && type == 0) continue;
    }
    // The class entry says it is a terminal; the node only has to be there.
    const std::string path = dev_dir + "/" + name;
    if (fs::exists(path, ec)) ports.push_back(path);
  }
  // The stable names udev gives USB serial adapters (by maker, model and serial number) are
  // offered too: they survive re-plugging, where ttyUSB numbers do not.
  fs::directory_iterator by_id{dev_dir + "/serial/by-id", ec};
  if (!ec) {
    for (const auto& entry : by_id)
      if (fs::exists(entry.path(), ec)) ports.push_back(entry.path().string());
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

std::vector<std::string> list_ports() {
  return list_ports_under("/sys/class/tty", "/dev");
}

bool port_exists(const std::string& name) {
  struct stat info {};
  if (name.empty() || ::stat(name.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
  const unsigned device_major = major(info.st_rdev);
  // Unix98 pseudo-terminal slaves (majors 136 to 143) have no entry under /sys/dev/char.
  if (device_major >= 136 && device_major <= 143) return true;
  // Every other terminal device belongs to the kernel's tty class, whatever its driver (8250,
  // USB serial, CDC ACM, AMBA PL011, Bluetooth RFCOMM, ...); /dev/null and the like do not.
  std::error_code ec;
  const std::filesystem::path subsystem =
      std::filesystem::read_symlink("/sys/dev/char/" + std::to_string(device_major) + ":" +
                                        std::to_string(minor(info.st_rdev)) + "/subsystem",
                                    ec);
  return !ec && subsystem.filename() == "tty";
}

bool open_pseudo_terminal(PseudoTerminal& pty, std::string& error) {
  int master = -1;
  int slave = -1;
  if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
    error = std::string("openpty: ") + std::strerror(errno);
    return false;
  }
  char name[256] = {};
  if (::ttyname_r(slave, name, sizeof name) != 0) {
    error = std::string("ttyname: ") + std::strerror(errno);
    ::close(master);
    ::close(slave);
    return false;
  }
  // A fresh pseudo-terminal is in cooked mode (echo, CR/LF rewriting): make both ends raw, as a
  // wire is.
  for (int fd : {slave, master}) {
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
      make_raw(t);
      set_8n1_115200(t);
      t.c_cc[VMIN] = 0;
      t.c_cc[VTIME] = 0;
      ::tcsetattr(fd, TCSANOW, &t);
    }
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  // The device end does not keep the program's end open: it sees hang-up until a program opens it.
  ::close(slave);
  pty.master = Port{master};
  pty.slave_name = name;
  return true;
}

bool take_as_controlling_terminal(const std::string& slave_name) {
  if (::getsid(0) != ::getpid()) return false;  // not a session leader
  const int fd = ::open(slave_name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  // The master closing hangs the line up, which signals the session that owns it: this one.
  ::signal(SIGHUP, SIG_IGN);
  const bool taken = ::ioctl(fd, TIOCSCTTY, 0) == 0;
  ::close(fd);
  return taken;
}

}  // namespace dz::serial
