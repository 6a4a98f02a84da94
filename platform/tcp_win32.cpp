// TCP streams on Windows Sockets, with only the calls of version 1.1 (the program starts that
// version through net::startup). Socket handles are kernel handles, which Windows keeps within 32
// bits for 32-bit interoperability; one that would not fit the int of tcp.h is refused.
#include <winsock2.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/tcp.h"

namespace dz::tcp {
namespace {

SOCKET native(int handle) {
  return static_cast<SOCKET>(handle);
}

// The socket as tcp.h's handle, or -1 (and the socket closed) when it does not fit.
int adopt(SOCKET s) {
  if (s == INVALID_SOCKET) return -1;
  if (s > static_cast<SOCKET>(INT_MAX)) {
    ::closesocket(s);
    return -1;
  }
  return static_cast<int>(s);
}

void set_no_delay(SOCKET s) {
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

// 1 when readable, 0 on time-out, -1 on error. A negative timeout waits without limit.
int wait_readable(SOCKET s, int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval limit{};
  limit.tv_sec = timeout_ms / 1000;
  limit.tv_usec = (timeout_ms % 1000) * 1000;
  const int n = ::select(0, &set, nullptr, nullptr, timeout_ms < 0 ? nullptr : &limit);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

std::string error_text(int code) {
  char text[256] = {};
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, text, sizeof text - 1, nullptr);
  std::string result(text, length);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.'))
    result.pop_back();
  if (result.empty()) result = "Windows Sockets error " + std::to_string(code);
  return result;
}

}  // namespace

void Stream::close() {
  if (handle_ >= 0) ::closesocket(native(handle_));
  handle_ = -1;
}

int Stream::read_some(std::uint8_t* buffer, std::size_t size, int timeout_ms) {
  if (handle_ < 0) return -1;
  if (timeout_ms >= 0) {
    const int ready = wait_readable(native(handle_), timeout_ms);
    if (ready < 0) return -1;
    if (ready == 0) return -2;
  }
  const int chunk = size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  const int got = ::recv(native(handle_), reinterpret_cast<char*>(buffer), chunk, 0);
  return got == SOCKET_ERROR ? -1 : got;
}

bool Stream::write_all(const std::uint8_t* data, std::size_t size) {
  if (handle_ < 0) return false;
  while (size > 0) {
    const int chunk = size > 65536 ? 65536 : static_cast<int>(size);
    const int sent = ::send(native(handle_), reinterpret_cast<const char*>(data), chunk, 0);
    if (sent == SOCKET_ERROR || sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

Stream connect(std::string_view host, std::uint16_t port, std::string& error) {
  const std::string host_text(host);
  const std::string where = host_text + ":" + std::to_string(port);
  // A dotted address directly, else the name through the resolver (both Windows Sockets 1.1).
  std::uint32_t address = ::inet_addr(host_text.c_str());
  if (address == INADDR_NONE || host_text.empty()) {
    const hostent* found = ::gethostbyname(host_text.c_str());
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
        found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
      error = "cannot resolve " + host_text + ": " + error_text(WSAGetLastError());
      return {};
    }
    std::memcpy(&address, found->h_addr_list[0], 4);
  }
  const int handle = adopt(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (handle < 0) {
    error = "cannot connect to " + where + ": " + error_text(WSAGetLastError());
    return {};
  }
  Stream stream(handle);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address;
  if (::connect(native(handle), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    error = "cannot connect to " + where + ": " + error_text(WSAGetLastError());
    return {};
  }
  set_no_delay(native(handle));
  error.clear();
  return stream;
}

void Listener::close() {
  if (handle_ >= 0) ::closesocket(native(handle_));
  handle_ = -1;
}

Listener Listener::listen_loopback(std::uint16_t port, std::string& error) {
  Listener l;
  const int handle = adopt(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (handle < 0) {
    error = "socket: " + error_text(WSAGetLastError());
    return l;
  }
  // No SO_REUSEADDR: on Windows it would let another program take over a port in use.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(native(handle), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(native(handle), 4) != 0) {
    error =
        "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + error_text(WSAGetLastError());
    ::closesocket(native(handle));
    return l;
  }
  int length = sizeof address;
  ::getsockname(native(handle), reinterpret_cast<sockaddr*>(&address), &length);
  l.handle_ = handle;
  l.port_ = ntohs(address.sin_port);
  return l;
}

Stream Listener::accept(int timeout_ms) {
  if (handle_ < 0 || wait_readable(native(handle_), timeout_ms) != 1) return {};
  const int client = adopt(::accept(native(handle_), nullptr, nullptr));
  if (client < 0) return {};
  set_no_delay(native(client));
  return Stream(client);
}

}  // namespace dz::tcp
