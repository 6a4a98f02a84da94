// UDP sockets on BSD sockets (Linux and other POSIX systems).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/udp.h"

namespace dz::udp {
namespace {

thread_local int error_code = 0;

int fail() {
  error_code = errno;
  return -1;
}

sockaddr_in to_native(Address a) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(a.ip);
  sa.sin_port = htons(a.port);
  return sa;
}

Address from_native(const sockaddr_in& sa) {
  return Address{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

}  // namespace

int last_error() {
  return error_code;
}

bool is_permission_error(int code) {
  return code == EACCES || code == EPERM;
}

Socket Socket::create() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) {
    fail();
    return Socket();
  }
  return Socket(fd);
}

bool Socket::bind(Address local) {
  sockaddr_in sa = to_native(local);
  if (::bind(static_cast<int>(handle_.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    return fail(), false;
  return true;
}

Address Socket::local_address() const {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(static_cast<int>(handle_.get()), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return Address{};
  return from_native(sa);
}

bool Socket::connect(Address peer) {
  sockaddr_in sa = to_native(peer);
  if (::connect(static_cast<int>(handle_.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
    return fail(), false;
  return true;
}

bool Socket::disconnect() {
  // Linux dissolves a UDP association with an AF_UNSPEC address (Winsock uses 0.0.0.0:0).
  sockaddr sa{};
  sa.sa_family = AF_UNSPEC;
  if (::connect(static_cast<int>(handle_.get()), &sa, sizeof sa) != 0 && errno != EAFNOSUPPORT)
    return fail(), false;
  return true;
}

int Socket::send_to(std::span<const std::uint8_t> data, Address peer) {
  sockaddr_in sa = to_native(peer);
  ssize_t n = ::sendto(static_cast<int>(handle_.get()), data.data(), data.size(), MSG_NOSIGNAL,
                       reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n < 0 ? fail() : static_cast<int>(n);
}

int Socket::send(std::span<const std::uint8_t> data) {
  ssize_t n = ::send(static_cast<int>(handle_.get()), data.data(), data.size(), MSG_NOSIGNAL);
  return n < 0 ? fail() : static_cast<int>(n);
}

int Socket::wait_readable(std::uint32_t timeout_ms) {
  pollfd p{static_cast<int>(handle_.get()), POLLIN, 0};
  int r;
  do {
    r = ::poll(&p, 1, static_cast<int>(timeout_ms > 0x7FFFFFFF ? 0x7FFFFFFF : timeout_ms));
  } while (r < 0 && errno == EINTR);
  if (r < 0) return fail();
  return r > 0 ? 1 : 0;
}

int Socket::receive_from(std::span<std::uint8_t> buffer, Address& from) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  ssize_t n = ::recvfrom(static_cast<int>(handle_.get()), buffer.data(), buffer.size(),
                         MSG_DONTWAIT | MSG_TRUNC, reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return fail();
  from = from_native(sa);
  return static_cast<int>(n);
}

int Socket::receive(std::span<std::uint8_t> buffer) {
  ssize_t n = ::recv(static_cast<int>(handle_.get()), buffer.data(), buffer.size(),
                     MSG_DONTWAIT | MSG_TRUNC);
  return n < 0 ? fail() : static_cast<int>(n);
}

void Socket::shutdown_both() {
  if (valid()) ::shutdown(static_cast<int>(handle_.get()), SHUT_RDWR);
}

void Socket::Close::release(std::intptr_t handle) {
  ::close(static_cast<int>(handle));
}

void Socket::close() {
  handle_.reset();
}

void Socket::set_receive_buffer(int bytes) {
  if (valid())
    ::setsockopt(static_cast<int>(handle_.get()), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

}  // namespace dz::udp
