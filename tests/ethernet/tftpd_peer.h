#pragma once
// tftpd-hpa (in.tftpd) run in the foreground on a loopback port, serving a fresh folder owned by
// the tftp user, for as long as the object lives. Linux only.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace dz::test {

class TftpdPeer {
 public:
  static bool available() {
    return std::filesystem::exists("/usr/sbin/in.tftpd") &&
           std::system("id tftp >/dev/null 2>&1") == 0;
  }

  // Starts the server with --refuse blksize; false when it did not come up.
  bool start(std::uint16_t port) {
    std::random_device r;
    dir_ = std::filesystem::temp_directory_path() / ("dz_tftpd_" + std::to_string(r()));
    std::filesystem::create_directories(dir_);
    pid_file_ = dir_.string() + ".pid";
    if (std::system(("chown tftp:tftp '" + dir_.string() + "'").c_str()) != 0) return false;
    std::string command = "timeout 120 in.tftpd -L -4 -a 127.0.0.1:" + std::to_string(port) +
                          " -c -s -u tftp --refuse blksize -P '" + pid_file_ + "' '" +
                          dir_.string() + "' >/dev/null 2>&1 &";
    if (std::system(command.c_str()) != 0) return false;
    for (int i = 0; i < 200; ++i) {
      if (std::filesystem::exists(pid_file_) && std::filesystem::file_size(pid_file_) > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  ~TftpdPeer() {
    if (!pid_file_.empty() && std::filesystem::exists(pid_file_))
      std::system(("kill -TERM \"$(cat '" + pid_file_ + "')\" 2>/dev/null").c_str());
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    std::filesystem::remove(pid_file_, ec);
  }

  std::filesystem::path uploaded() const { return dir_ / "boot.bin"; }

  // The uploaded file once it has reached `size` bytes (waits briefly for the server's writes).
  std::vector<std::uint8_t> read_uploaded(std::size_t size) const {
    for (int i = 0; i < 200; ++i) {
      std::error_code ec;
      if (std::filesystem::exists(uploaded()) && std::filesystem::file_size(uploaded(), ec) >= size)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::ifstream in(uploaded(), std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

  const std::filesystem::path& dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  std::string pid_file_;
};

}  // namespace dz::test
