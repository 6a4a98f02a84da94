// Windows Sockets 1.1 start-up and clean-up.
#include <winsock2.h>

#include "platform/net.h"

namespace dz::net {

bool startup() {
  WSADATA data{};
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void cleanup() {
  WSACleanup();
}

}  // namespace dz::net
