// UDP sockets on Windows Sockets 1.1 (only calls that version offers; started by net::startup).
#include <winsock2.h>

#include "platform/udp.h"

namespace dz::udp {
namespace {

SOCKET native(std::intptr_t handle) {
  return static_cast<SOCKET>(handle);
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
  return WSAGetLastError();
}

bool is_permission_error(int) {
  return false;
}

Socket Socket::create() {
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return Socket();
  return Socket(static_cast<Handle>(s));
}

bool Socket::bind(Address local) {
  sockaddr_in sa = to_native(local);
  return ::bind(native(handle_.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

Address Socket::local_address() const {
  sockaddr_in sa{};
  int len = sizeof sa;
  if (::getsockname(native(handle_.get()), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
    return Address{};
  return from_native(sa);
}

bool Socket::connect(Address peer) {
  sockaddr_in sa = to_native(peer);
  return ::connect(native(handle_.get()), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool Socket::disconnect() {
  // Winsock dissolves a datagram association when connected to 0.0.0.0, port 0.
  return connect(Address{});
}

int Socket::send_to(std::span<const std::uint8_t> data, Address peer) {
  sockaddr_in sa = to_native(peer);
  int n = ::sendto(native(handle_.get()), reinterpret_cast<const char*>(data.data()),
                   static_cast<int>(data.size()), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  return n == SOCKET_ERROR ? -1 : n;
}

int Socket::send(std::span<const std::uint8_t> data) {
  int n = ::send(native(handle_.get()), reinterpret_cast<const char*>(data.data()),
                 static_cast<int>(data.size()), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int Socket::wait_readable(std::uint32_t timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(native(handle_.get()), &set);
  timeval tv{static_cast<long>(timeout_ms / 1000), static_cast<long>((timeout_ms % 1000) * 1000)};
  int r = ::select(0, &set, nullptr, nullptr, &tv);
  if (r == SOCKET_ERROR) return -1;
  return r > 0 ? 1 : 0;
}

int Socket::receive_from(std::span<std::uint8_t> buffer, Address& from) {
  sockaddr_in sa{};
  int len = sizeof sa;
  int n = ::recvfrom(native(handle_.get()), reinterpret_cast<char*>(buffer.data()),
                     static_cast<int>(buffer.size()), 0, reinterpret_cast<sockaddr*>(&sa), &len);
  // A datagram longer than the buffer is cut and reported as WSAEMSGSIZE.
  if (n == SOCKET_ERROR) {
    if (WSAGetLastError() != WSAEMSGSIZE) return -1;
    n = static_cast<int>(buffer.size()) + 1;
  }
  from = from_native(sa);
  return n;
}

int Socket::receive(std::span<std::uint8_t> buffer) {
  int n = ::recv(native(handle_.get()), reinterpret_cast<char*>(buffer.data()),
                 static_cast<int>(buffer.size()), 0);
  if (n == SOCKET_ERROR) {
    if (WSAGetLastError() != WSAEMSGSIZE) return -1;
    n = static_cast<int>(buffer.size()) + 1;
  }
  return n;
}

void Socket::shutdown_both() {
  if (valid()) ::shutdown(native(handle_.get()), SD_BOTH);
}

void Socket::Close::release(std::intptr_t handle) {
  ::closesocket(native(handle));
}

void Socket::close() {
  handle_.reset();
}

void Socket::set_receive_buffer(int bytes) {
  if (valid())
    ::setsockopt(native(handle_.get()), SOL_SOCKET, SO_RCVBUF,
                 reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

}  // namespace dz::udp
