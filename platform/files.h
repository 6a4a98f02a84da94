#pragma once
// What kind of thing a path names, found without opening it: opening a FIFO waits for a writer,
// and opening a device may have effects of its own.
#include <string>

namespace dz::files {

// True when `path` names a regular file (a symbolic link counts as what it points to).
bool is_regular_file(const std::string& path);

// Why `path` cannot be read as an image file: "" when it is a regular file, otherwise a short
// reason such as "it is a directory" or "it does not exist".
std::string not_a_file_reason(const std::string& path);

// `path` made absolute against the current directory (unchanged when that cannot be done).
std::string absolute_path(const std::string& path);

}  // namespace dz::files
