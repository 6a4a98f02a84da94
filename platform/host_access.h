#pragma once
// Facts about the host that decide whether a user may use the loader's ports without root: who
// the user is, files and their owners and modes, directory listings, small system files, and a
// program file's capabilities. Paths are plain strings, so checks can be pointed at a scratch
// tree as well as at "/".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dz::host {

// The user the checks are made for.
struct Identity {
  unsigned uid = 0;
  std::string name;
  std::vector<unsigned> gids;       // the groups this process (session) has, primary first
  bool can_bind_low_ports = false;  // CAP_NET_BIND_SERVICE in the effective set
};

// The running process's user, groups and capabilities.
Identity current_identity();

struct FileInfo {
  unsigned uid = 0;
  unsigned gid = 0;
  unsigned mode = 0;  // permission bits only (07777)
  bool character_device = false;
  bool directory = false;
};

// Owner, group and mode of a path (following links); nothing when it does not exist.
std::optional<FileInfo> file_info(const std::string& path);

// The names in a directory, sorted; empty when it cannot be read.
std::vector<std::string> directory_names(const std::string& path);

// Up to limit bytes of a file; nothing when it cannot be read.
std::optional<std::string> read_small_file(const std::string& path, std::size_t limit = 65536);

// The running program's own path ("" when unknown).
std::string executable_path();

// True when the file carries CAP_NET_BIND_SERVICE as a permitted and effective file capability
// (what `setcap cap_net_bind_service=+ep FILE` gives).
bool file_has_bind_capability(const std::string& path);

}  // namespace dz::host
