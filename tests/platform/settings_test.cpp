// The settings store as the program uses it: keys, 32-bit numbers and texts with capacities.
// The same cases run on the in-memory store and on the platform's own store.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/settings.h"

namespace dz::settings {
namespace {

constexpr std::string_view test_key = "Software\\Belvona\\DividezUrirerTest";
constexpr std::string_view test_subkey = "Software\\Belvona\\DividezUrirerTest\\Ethernet";

// Round trip of numbers and texts, and the registry's capacity rule.
void exercise_store() {
  {
    auto key = open_key(test_key);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->write_dword("JTAGInterface", 2));
    EXPECT_TRUE(key->write_dword("BootloaderIP", 0xC0A80001));
    EXPECT_TRUE(key->write_string("ComPort", "COM3"));
    EXPECT_TRUE(key->write_string("Image0", "C:\\images\\nk.bin"));
    EXPECT_TRUE(key->write_string("Fifteen", "123456789012345"));
    EXPECT_TRUE(key->write_string("Sixteen", "1234567890123456"));
    EXPECT_TRUE(key->write_string("Empty", ""));
  }
  {
    auto sub = open_key(test_subkey);
    ASSERT_TRUE(sub);
    EXPECT_TRUE(sub->write_dword("DeviceCount", 1));
    EXPECT_TRUE(sub->write_string("Device0", "PXA270-1234"));
  }
  auto key = open_key(test_key);
  ASSERT_TRUE(key);
  std::uint32_t n = 99;
  EXPECT_TRUE(key->read_dword("JTAGInterface", n));
  EXPECT_EQ(n, 2u);
  EXPECT_TRUE(key->read_dword("jtaginterface", n));  // names ignore case
  EXPECT_TRUE(key->read_dword("BootloaderIP", n));
  EXPECT_EQ(n, 0xC0A80001u);
  n = 77;
  EXPECT_FALSE(key->read_dword("Missing", n));
  EXPECT_EQ(n, 77u);
  EXPECT_FALSE(key->read_dword("Image0", n));  // a long text does not fit 4 bytes

  std::string s = "unchanged";
  EXPECT_TRUE(key->read_string("ComPort", s, 16));
  EXPECT_EQ(s, "COM3");
  EXPECT_TRUE(key->read_string("Fifteen", s, 16));
  EXPECT_EQ(s, "123456789012345");
  s = "unchanged";
  EXPECT_FALSE(key->read_string("Sixteen", s, 16));  // 17 bytes with the terminator
  EXPECT_EQ(s, "unchanged");
  EXPECT_TRUE(key->read_string("Sixteen", s, 17));
  EXPECT_EQ(s, "1234567890123456");
  EXPECT_TRUE(key->read_string("Empty", s, 1));
  EXPECT_EQ(s, "");
  EXPECT_FALSE(key->read_string("Missing", s, 256));

  // Overwrite keeps one value; the subkey is separate.
  EXPECT_TRUE(key->write_dword("JTAGInterface", 4));
  EXPECT_TRUE(key->read_dword("JTAGInterface", n));
  EXPECT_EQ(n, 4u);
  EXPECT_FALSE(key->read_string("Device0", s, 256));
  auto sub = open_key(test_subkey);
  ASSERT_TRUE(sub);
  EXPECT_TRUE(sub->read_string("Device0", s, 256));
  EXPECT_EQ(s, "PXA270-1234");
}

TEST(SettingsMemory, RoundTrip) {
  use_memory_store();
  EXPECT_EQ(store_path(), "");
  exercise_store();
  // A fresh memory store starts empty.
  use_memory_store();
  auto key = open_key(test_key);
  ASSERT_TRUE(key);
  std::uint32_t n = 0;
  EXPECT_FALSE(key->read_dword("JTAGInterface", n));
  EXPECT_FALSE(open_key(""));
  use_platform_store();
}

TEST(SettingsPlatform, RoundTripInTheDefaultStore) {
  // Windows: the registry under HKEY_CURRENT_USER; elsewhere the settings file the tests point
  // at (the file tests below cover that store in depth).
  use_platform_store();
  exercise_store();
}

TEST(SettingsFileStore, RoundTripOnEveryPlatform) {
  // The TOML file store works on Windows too (the command line's settings file, tests).
  namespace fs = std::filesystem;
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path dir = fs::temp_directory_path() / ("dz-settings-" + std::to_string(stamp));
  const std::string path = (dir / "sub" / "settings.toml").string();
  use_file_store(path);
  EXPECT_EQ(store_path(), path);
  exercise_store();
  EXPECT_TRUE(fs::exists(path));
  use_memory_store();
  use_file_store(path);  // read back from the file alone
  auto key = open_key(test_key);
  ASSERT_TRUE(key);
  std::string s;
  EXPECT_TRUE(key->read_string("Image0", s, 256));
  EXPECT_EQ(s, "C:\\images\\nk.bin");
  std::uint32_t n = 0;
  EXPECT_TRUE(key->read_dword("JTAGInterface", n));
  EXPECT_EQ(n, 4u);
  key.reset();
  use_platform_store();
  std::error_code ec;
  fs::remove_all(dir, ec);
}

}  // namespace
}  // namespace dz::settings
