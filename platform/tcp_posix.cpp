// TCP streams on BSD sockets.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/tcp.h"

namespace dz::tcp {
namespace {

bool wait_readable(int handle, int timeout_ms) {
  pollfd p{handle, POLLIN, 0};
  for (;;) {
    int n = ::poll(&p, 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

}  // namespace

void Stream::close() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
}

int Stream::read_some(std::uint8_t* buffer, std::size_t size, int timeout_ms) {
  if (handle_ < 0) return -1;
  if (timeout_ms >= 0) {
    pollfd p{handle_, POLLIN, 0};
    int n;
    do n = ::poll(&p, 1, timeout_ms);
    while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    if (n == 0) return -2;
  }
  for (;;) {
    ssize_t got = ::recv(handle_, buffer, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    return static_cast<int>(got);
  }
}

bool Stream::write_all(const std::uint8_t* data, std::size_t size) {
  if (handle_ < 0) return false;
  while (size > 0) {
    ssize_t sent = ::send(handle_, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

Stream connect(std::string_view host, std::uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  std::string host_text(host);
  std::string port_text = std::to_string(port);
  int rc = ::getaddrinfo(host_text.c_str(), port_text.c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    error = "cannot resolve " + host_text + ": " + ::gai_strerror(rc);
    return {};
  }
  Stream result;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    int handle = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (handle < 0) continue;
    if (::connect(handle, a->ai_addr, a->ai_addrlen) == 0) {
      int one = 1;
      ::setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      result = Stream(handle);
      break;
    }
    error = "cannot connect to " + host_text + ":" + port_text + ": " + std::strerror(errno);
    ::close(handle);
  }
  ::freeaddrinfo(found);
  if (result.valid()) error.clear();
  return result;
}

void Listener::close() {
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
}

Listener Listener::listen_loopback(std::uint16_t port, std::string& error) {
  Listener l;
  int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (handle < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return l;
  }
  int one = 1;
  ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(handle, 4) != 0) {
    error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " +
            std::strerror(errno);
    ::close(handle);
    return l;
  }
  socklen_t length = sizeof address;
  ::getsockname(handle, reinterpret_cast<sockaddr*>(&address), &length);
  l.handle_ = handle;
  l.port_ = ntohs(address.sin_port);
  return l;
}

Stream Listener::accept(int timeout_ms) {
  if (handle_ < 0 || !wait_readable(handle_, timeout_ms)) return {};
  int client = ::accept4(handle_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return {};
  int one = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return Stream(client);
}

}  // namespace dz::tcp
