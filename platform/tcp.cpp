// What TCP streams and listeners do alike on every platform; tcp_posix.cpp and tcp_win32.cpp
// hold the socket calls.
#include "platform/tcp.h"

#include <utility>

namespace dz::tcp {

Stream& Stream::operator=(Stream&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

Stream::~Stream() {
  close();
}

Listener& Listener::operator=(Listener&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, -1);
    port_ = other.port_;
  }
  return *this;
}

Listener::~Listener() {
  close();
}

}  // namespace dz::tcp
