// The settings store on Windows: the registry under HKEY_CURRENT_USER.
#include <windows.h>

#include <vector>

#include "platform/settings_store.h"

namespace dz::settings {
namespace {

class RegistryKey final : public Key {
 public:
  explicit RegistryKey(HKEY key) : key_(key) {}
  ~RegistryKey() override { RegCloseKey(key_); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Only a REG_DWORD of 4 bytes is a number: a text, binary data or a shorter value in its
  // place would otherwise fill the variable with its bytes.
  bool read_dword(std::string_view name, std::uint32_t& value) override {
    DWORD v = 0;
    DWORD size = sizeof v;
    DWORD type = REG_NONE;
    const std::string n(name);
    if (RegQueryValueExA(key_, n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) !=
        ERROR_SUCCESS) {
      return false;
    }
    if (type != REG_DWORD || size != sizeof v) return wrong_type(name, "a REG_DWORD of 4 bytes");
    value = v;
    return true;
  }

  bool read_string(std::string_view name, std::string& value, std::size_t capacity) override {
    if (capacity == 0) return false;
    std::vector<char> buffer(capacity, '\0');
    DWORD size = static_cast<DWORD>(capacity);
    DWORD type = REG_NONE;
    const std::string n(name);
    if (RegQueryValueExA(key_, n.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
      return false;
    }
    if (type != REG_SZ) return wrong_type(name, "a REG_SZ text");
    std::size_t length = 0;
    while (length < size && buffer[length] != '\0') ++length;
    // The text and its terminator must both fit, as for a fixed buffer.
    if (length >= capacity) return false;
    value.assign(buffer.data(), length);
    return true;
  }

  bool write_dword(std::string_view name, std::uint32_t value) override {
    const DWORD v = value;
    const std::string n(name);
    return RegSetValueExA(key_, n.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v),
                          sizeof v) == ERROR_SUCCESS;
  }

  bool write_string(std::string_view name, std::string_view value) override {
    const std::string n(name), v(value);
    return RegSetValueExA(key_, n.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                          static_cast<DWORD>(v.size() + 1)) == ERROR_SUCCESS;
  }

 private:
  // A value of another type counts as missing, so that its default applies.
  static bool wrong_type(std::string_view name, const char* kind) {
    report("registry value \"" + std::string(name) + "\" is not " + kind + "; its default applies");
    return false;
  }

  HKEY key_;
};

class RegistryStore final : public Store {
 public:
  std::unique_ptr<Key> open(std::string_view subkey) override {
    const std::string s(subkey);
    HKEY key = nullptr;
    if (s.empty() || RegCreateKeyA(HKEY_CURRENT_USER, s.c_str(), &key) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<RegistryKey>(key);
  }
};

}  // namespace

std::unique_ptr<Store> make_platform_store() {
  return std::make_unique<RegistryStore>();
}

}  // namespace dz::settings
