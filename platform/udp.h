#pragma once
// UDP sockets over IPv4 (Windows Sockets 1.1 on Windows, BSD sockets elsewhere): create, bind,
// send and receive with a bounded wait, connect and disconnect, shutdown and close. Failures
// return false or -1; udp::last_error() then gives the code that the messages print with "%d"
// (WSAGetLastError on Windows, errno elsewhere).
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/handle.h"

namespace dz::udp {

// An IPv4 address and port. `ip` holds the four numbers of the dotted form with the first one in
// the most significant byte (127.0.0.1 = 0x7F000001); `port` is a plain number.
struct Address {
  std::uint32_t ip = 0;
  std::uint16_t port = 0;
  friend bool operator==(const Address&, const Address&) = default;
};

inline constexpr std::uint32_t any_ip = 0;                // INADDR_ANY
inline constexpr std::uint32_t loopback_ip = 0x7F000001;  // 127.0.0.1

// The address from the four octets as they travel (first octet first).
inline std::uint32_t ip_from_bytes(const std::uint8_t b[4]) {
  return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
         b[3];
}

// The error code of the last failed call on this thread.
int last_error();
// True when `code` says a bind was refused for lack of rights (a port below 1024 on Linux).
bool is_permission_error(int code);

// A UDP socket; closed when destroyed.
class Socket {
 public:
  Socket() = default;

  // socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); an invalid Socket on failure.
  static Socket create();
  bool valid() const { return handle_.valid(); }
  explicit operator bool() const { return valid(); }

  bool bind(Address local);
  // The locally bound address (after bind, or after the first send picked a port).
  Address local_address() const;
  // Fixes the peer: send() goes there and only its datagrams are received.
  bool connect(Address peer);
  // Dissolves the association made by connect.
  bool disconnect();

  // Bytes sent, or -1.
  int send_to(std::span<const std::uint8_t> data, Address peer);
  int send(std::span<const std::uint8_t> data);

  // Waits at most `timeout_ms` (real time) for a datagram: 1 when one is there, 0 on time-out,
  // -1 on error.
  int wait_readable(std::uint32_t timeout_ms);
  // Receives one datagram into the buffer. Returns its length, or -1. A datagram longer than the
  // buffer is cut to the buffer's size and the result is then greater than buffer.size() (the
  // full length where the system reports it), so callers can tell that it did not fit.
  int receive_from(std::span<std::uint8_t> buffer, Address& from);
  int receive(std::span<std::uint8_t> buffer);

  // shutdown(SD_BOTH); the socket stays open.
  void shutdown_both();
  void close();

  // Enlarges the kernel's receive buffer (throughput of windowed transfers); best effort.
  void set_receive_buffer(int bytes);

 private:
  // Closes the socket (defined by each platform).
  struct Close {
    static void release(std::intptr_t handle);
  };
  using Handle = std::intptr_t;
  explicit Socket(Handle handle) : handle_(handle) {}
  UniqueHandle<Close> handle_;
};

// The port on which the loader listens for BOOTME announcements and the port on which it reaches
// the module's TFTP server and jump command. Both are the EDBG port 980 for users. Tests move them
// with the environment variables DIVIDEZURIRER_TEST_BOOTME_PORT and DIVIDEZURIRER_TEST_MODULE_PORT;
// a simulated module that runs inside the program moves them with set_edbg_ports.
inline constexpr std::uint16_t edbg_port = 980;
std::uint16_t bootme_listen_port();
std::uint16_t module_port();
// 0 for either leaves that port to the environment / the default.
void set_edbg_ports(std::uint16_t bootme_listen, std::uint16_t module);

}  // namespace dz::udp
