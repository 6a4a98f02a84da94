#pragma once
// Inside the settings service: the registry-shaped data that the memory and file stores share,
// and the factories of the platform's own stores.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/settings.h"

namespace dz::settings {

// Registry value types as stored.
inline constexpr std::uint32_t reg_sz = 1;
inline constexpr std::uint32_t reg_dword = 4;
// Entries of a hand-edited file that are neither a 32-bit number nor a text. `reg_foreign` keeps
// the entry's TOML text in `bytes` (written back as it was); `reg_unsupported` (arrays, tables,
// dates) is only known to be there and is not written back.
inline constexpr std::uint32_t reg_foreign = 0x10000;
inline constexpr std::uint32_t reg_unsupported = 0x10001;

// A value as the registry keeps it: a type and raw bytes (texts include their terminating zero).
struct Value {
  std::uint32_t type = reg_sz;
  std::string bytes;
  bool operator==(const Value&) const = default;
};

// Registry names ignore case; the first spelling used is the one stored.
struct NoCaseLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct KeyData {
  std::map<std::string, Value, NoCaseLess> values;
};
using StoreData = std::map<std::string, KeyData, NoCaseLess>;

// Reads and writes of values held as registry bytes.
bool read_dword_value(const Value& v, std::uint32_t& value);
bool read_string_value(const Value& v, std::string& value, std::size_t capacity);
Value dword_value(std::uint32_t value);
Value string_value(std::string_view text);

class Store {
 public:
  virtual ~Store() = default;
  virtual std::unique_ptr<Key> open(std::string_view subkey) = 0;
  virtual std::string path() const { return {}; }
};

std::unique_ptr<Store> make_memory_store();
// Makes `store` the current one (tests: a store whose writes fail).
void use_store(std::shared_ptr<Store> store);
// The platform's store: the registry on Windows, the TOML file at default_settings_path() else.
std::unique_ptr<Store> make_platform_store();
// The TOML file store (nullptr where the platform has none).
std::unique_ptr<Store> make_file_store(const std::string& path);

}  // namespace dz::settings
