// File kinds and absolute paths through std::filesystem (the same on every platform).
#include "platform/files.h"

#include <filesystem>
#include <system_error>

namespace dz::files {

bool is_regular_file(const std::string& path) {
  return not_a_file_reason(path).empty();
}

std::string not_a_file_reason(const std::string& path) {
  namespace fs = std::filesystem;
  if (path.empty()) return "no file name was given";
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  switch (status.type()) {
    case fs::file_type::regular:
      return {};
    case fs::file_type::not_found:
      return "it does not exist";
    case fs::file_type::directory:
      return "it is a directory";
    case fs::file_type::fifo:
      return "it is a FIFO";
    case fs::file_type::character:
    case fs::file_type::block:
      return "it is a device";
    case fs::file_type::socket:
      return "it is a socket";
    case fs::file_type::none:
      return ec ? "it cannot be examined (" + ec.message() + ")" : "it cannot be examined";
    default:
      return "it is not a regular file";
  }
}

std::string absolute_path(const std::string& path) {
  if (path.empty()) return path;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return absolute.lexically_normal().string();
}

}  // namespace dz::files
