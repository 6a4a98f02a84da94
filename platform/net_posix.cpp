// POSIX sockets need no process-wide start-up.
#include "platform/net.h"

namespace dz::net {

bool startup() {
  return true;
}
void cleanup() {}

}  // namespace dz::net
