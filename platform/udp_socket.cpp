// Ownership of a UDP socket handle, the same on every platform: moving hands the handle over,
// destruction closes it.
#include "platform/udp.h"

namespace dz::udp {

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_) {
  other.handle_ = invalid_handle;
}

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = invalid_handle;
  }
  return *this;
}

Socket::~Socket() {
  close();
}

}  // namespace dz::udp
