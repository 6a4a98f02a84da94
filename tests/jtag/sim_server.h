#pragma once
// dividezurirer-sim as a real remote_bitbang peer for the tests (Linux: started through the shell
// in the background, bounded by `timeout`).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/tcp.h"

namespace dz::test {

inline const std::string sim_program =
    std::string(DZ_BINARY_DIR) + "/sim/programs/dividezurirer-sim";

inline std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// dividezurirer-sim running in the background (bounded by `timeout`), stopped with 'Q'.
class SimServer {
 public:
  explicit SimServer(const std::string& args) {
    static int counter = 0;
    dir_ = ::testing::TempDir() + "dzsim" + std::to_string(++counter) + "_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    port_file_ = dir_ + ".port";
    const std::string command = "timeout 60 " + sim_program + " " + args + " --port-file " +
                                port_file_ + " > " + dir_ + ".log 2>&1 &";
    if (std::system(command.c_str()) != 0) return;
    for (int i = 0; i < 200 && port_ == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      const std::string text = read_file(port_file_);
      if (!text.empty()) port_ = static_cast<std::uint16_t>(std::stoi(text));
    }
  }
  ~SimServer() { stop(); }
  void stop() {
    if (port_ == 0) return;
    std::string error;
    tcp::Stream s = tcp::connect("127.0.0.1", port_, error);
    const std::uint8_t q = 'Q';
    if (s) s.write_all(&q, 1);
    s.close();
    // Wait until the server has gone and refuses connections.
    for (int i = 0; i < 200; ++i) {
      tcp::Stream probe = tcp::connect("127.0.0.1", port_, error);
      if (!probe) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    port_ = 0;
  }
  std::uint16_t port() const { return port_; }
  std::string log() const { return read_file(dir_ + ".log"); }

 private:
  std::string dir_, port_file_;
  std::uint16_t port_ = 0;
};

}  // namespace dz::test
