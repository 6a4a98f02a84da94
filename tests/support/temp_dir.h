#pragma once
// Files of the tests: a folder of the test's own, random contents, whole-file writes.
#include <algorithm>
#include <atomic>
#include <cstddef>
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

// `size` bytes of a file from `offset` (fewer where the file ends; all of it by default).
inline std::vector<std::uint8_t> read_bytes(const std::string& path, std::size_t offset = 0,
                                            std::size_t size = SIZE_MAX) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::vector<std::uint8_t> out;
  char chunk[4096];
  while (out.size() < size && in) {
    in.read(chunk, static_cast<std::streamsize>(std::min(sizeof chunk, size - out.size())));
    out.insert(out.end(), chunk, chunk + in.gcount());
  }
  return out;
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
