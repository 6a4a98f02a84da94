#pragma once
// The TOML form of the settings store: one table per key, integers for 32-bit numbers and
// strings for texts; and the file operations behind it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace dz::settings::file {

// A settings file is a few kilobytes; anything far larger is not ours.
inline constexpr std::size_t max_file_size = 1u << 20;

// Parses a settings file. False (and `data` empty) when the text is not TOML; entries that are
// not 32-bit numbers or texts are kept as reg_foreign / reg_unsupported values.
bool parse(std::string_view text, StoreData& data);
// The file's text for `data`: always valid TOML, whatever bytes the texts hold.
std::string format(const StoreData& data);

// The file a path stands for: symbolic links followed (also a link to a file not yet made).
std::string resolve(const std::string& path);

enum class ReadStatus { ok, missing, not_regular, failed };
// Reads a regular file of at most max_file_size bytes. Devices, FIFOs and folders are not
// opened (not_regular); `error` says why on not_regular and failed.
ReadStatus read(const std::string& path, std::string& text, std::string& error);

// Replaces the regular file at `path` (already resolved) with `text` so that readers see the old
// or the new file, never a part: a temporary file beside it, flushed to disk, given the old
// file's mode, then renamed over it. Refuses a read-only file or folder and anything that is not
// a regular file. False with `error` on failure, leaving the old file and no temporary one.
bool replace(const std::string& path, const std::string& text, std::string& error);
// The checks of replace() alone, made before anything is written.
bool replaceable(const std::string& path, std::string& error);
// Makes a new file with `text`; false when `path` exists or cannot be made.
bool create_new(const std::string& path, const std::string& text, std::string& error);
// Makes the folders up to the file's own.
void make_parent_folders(const std::string& path);

// An exclusive lock on the file `path` (made when missing), held while the object lives; other
// runs wait for it. Used on "<settings file>.lock".
class Lock {
 public:
  Lock() = default;
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  bool acquire(const std::string& path, std::string& error);

 private:
  std::intptr_t handle_ = -1;
};

// $DIVIDEZURIRER_SETTINGS, else $XDG_CONFIG_HOME/DividezUrirer/settings.toml, else
// $HOME/.config/DividezUrirer/settings.toml ("" when none of them is set).
std::string default_path();

}  // namespace dz::settings::file
