#pragma once
// Process-wide start and end of the network stack (Windows Sockets 1.1 on Windows; nothing to do
// elsewhere). Program entry calls startup() once before anything uses a socket and cleanup() at
// the end.
namespace dz::net {

// True when the stack is ready (always on POSIX).
bool startup();
void cleanup();

}  // namespace dz::net
