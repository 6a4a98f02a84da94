#pragma once
// TCP streams over IPv4 for the remote_bitbang link between the loader and a JTAG server (such as
// dividezurirer-sim). Only what that link needs: connect, listen on loopback, accept with a
// bounded wait, read with a bounded wait, write everything. Handles close when destroyed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dz::tcp {

class Stream {
 public:
  Stream() = default;
  explicit Stream(int handle) : handle_(handle) {}
  Stream(Stream&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  Stream& operator=(Stream&& other) noexcept;
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;
  ~Stream();

  bool valid() const { return handle_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Bytes read (> 0), 0 when the peer closed, -1 on error, -2 when nothing came within the wait.
  // A negative `timeout_ms` waits without limit.
  int read_some(std::uint8_t* buffer, std::size_t size, int timeout_ms);
  // Writes all bytes; false on error.
  bool write_all(const std::uint8_t* data, std::size_t size);
  void close();

 private:
  int handle_ = -1;
};

// Connects to host:port ("127.0.0.1", "localhost" or a name), with TCP_NODELAY set. An invalid
// stream and `error` filled on failure.
Stream connect(std::string_view host, std::uint16_t port, std::string& error);

class Listener {
 public:
  Listener() = default;
  Listener(Listener&& other) noexcept : handle_(other.handle_), port_(other.port_) {
    other.handle_ = -1;
  }
  Listener& operator=(Listener&& other) noexcept;
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  ~Listener();

  // Listens on 127.0.0.1:port (0 = any free port).
  static Listener listen_loopback(std::uint16_t port, std::string& error);
  bool valid() const { return handle_ >= 0; }
  std::uint16_t port() const { return port_; }
  // Waits at most `timeout_ms` for a client; an invalid stream on time-out or error.
  Stream accept(int timeout_ms);

 private:
  void close();

  int handle_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace dz::tcp
