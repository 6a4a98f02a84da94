#pragma once
// The settings store, shaped like the registry under HKEY_CURRENT_USER: keys named by subkey path
// ("Software\\Belvona\\DividezUrirer", "Software\\Belvona\\DividezUrirer\\Ethernet") holding
// 32-bit numbers and texts. Windows keeps them in the registry; Linux in a TOML file
// ($XDG_CONFIG_HOME/DividezUrirer/settings.toml, or $DIVIDEZURIRER_SETTINGS); tests in memory.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace dz::settings {

inline constexpr std::string_view main_key = "Software\\Belvona\\DividezUrirer";
inline constexpr std::string_view ethernet_key = "Software\\Belvona\\DividezUrirer\\Ethernet";

// An open key (RegCreateKeyA ... RegCloseKey). The registry keeps each change at once; the
// file store keeps a run's changes in memory and writes them, merged into the file as it is
// then, when the last open key closes (a failure is then told by settings_save_failed()).
class Key {
 public:
  virtual ~Key() = default;
  // RegQueryValueExA of a number (REG_DWORD, 4 bytes); false when the value is missing, of
  // another type or size, or unreadable, so that the caller's default applies.
  virtual bool read_dword(std::string_view name, std::uint32_t& value) = 0;
  // RegQueryValueExA of a text (REG_SZ) into `capacity` bytes including the terminator; false
  // when the value is missing, of another type or does not fit.
  virtual bool read_string(std::string_view name, std::string& value, std::size_t capacity) = 0;
  virtual bool write_dword(std::string_view name, std::uint32_t value) = 0;
  virtual bool write_string(std::string_view name, std::string_view value) = 0;
};

// Opens (creating when missing) a key of the current store; nullptr when it cannot be opened.
std::unique_ptr<Key> open_key(std::string_view subkey);

// Store selection. The default is the platform's store (registry / the TOML file).
void use_platform_store();
void use_file_store(const std::string& path);  // a TOML file at `path`
void use_memory_store();                       // an empty in-memory store
// Path of the TOML file in use ("" for the registry or memory).
std::string store_path();

// What a run saves. While recording (between begin_ and end_recording_loaded_values) writes
// change nothing and only note each value as it stands after loading; afterwards a write of a
// value equal to its noted one is skipped. So a run writes only what it changed: a run that
// changed nothing writes nothing, and a value another run changed meanwhile is not put back.
// Choosing a store forgets the noted values.
void begin_recording_loaded_values();
void end_recording_loaded_values();

// Marks this run's save as failed and prints `message` to stderr, once per run.
void note_save_failed(const std::string& message);
// Prints one line about the settings to stderr, once per run for the same text.
void report(const std::string& message);

}  // namespace dz::settings

namespace dz {

// True when the last save of this run did not write everything it should; the store has then
// already printed one line saying why to stderr. Choosing a store starts a new run.
bool settings_save_failed();

}  // namespace dz
