#pragma once
// Files of the tests: a folder of the test's own, random contents, whole-file writes.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace dz::test {

inline void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> random_bytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(gen());
  return bytes;
}

// A folder that is removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    static std::atomic<int> counter{0};
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() /
            ("dz-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::filesystem::path path() const { return path_; }
  std::string path(const std::string& name) const { return (path_ / name).string(); }
  std::string file(const std::string& name) const { return path(name); }
  // Writes `bytes` to the file `name` in the folder; returns its path.
  std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const std::string file = path(name);
    write_file(file, bytes);
    return file;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace dz::test
