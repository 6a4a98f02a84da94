// The settings store as the program uses it: keys, 32-bit numbers and texts with capacities.
// The same cases run on the in-memory store and on the platform's own store.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/settings.h"
#include "tests/support/settings_checks.h"
#include "tests/support/temp_dir.h"

namespace dz::settings {
namespace {

using test::dword_of;
using test::text_of;

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
  EXPECT_EQ(dword_of(*key, "JTAGInterface"), 2u);
  EXPECT_EQ(dword_of(*key, "jtaginterface"), 2u);  // names ignore case
  EXPECT_EQ(dword_of(*key, "BootloaderIP"), 0xC0A80001u);
  std::uint32_t n = 77;
  EXPECT_FALSE(key->read_dword("Missing", n));
  EXPECT_EQ(n, 77u);
  EXPECT_FALSE(key->read_dword("Image0", n));  // a text is no number
  EXPECT_FALSE(key->read_dword("Empty", n));   // not even one that fits 4 bytes
  EXPECT_EQ(n, 77u);
  std::string text = "unchanged";
  EXPECT_FALSE(key->read_string("JTAGInterface", text, 16));  // nor is a number a text
  EXPECT_EQ(text, "unchanged");

  EXPECT_EQ(text_of(*key, "ComPort", 16), "COM3");
  EXPECT_EQ(text_of(*key, "Fifteen", 16), "123456789012345");
  std::string s = "unchanged";
  EXPECT_FALSE(key->read_string("Sixteen", s, 16));  // 17 bytes with the terminator
  EXPECT_EQ(s, "unchanged");
  EXPECT_EQ(text_of(*key, "Sixteen", 17), "1234567890123456");
  EXPECT_EQ(text_of(*key, "Empty", 1), "");
  EXPECT_FALSE(key->read_string("Missing", s, 256));

  // Overwrite keeps one value; the subkey is separate.
  EXPECT_TRUE(key->write_dword("JTAGInterface", 4));
  EXPECT_EQ(dword_of(*key, "JTAGInterface"), 4u);
  EXPECT_FALSE(key->read_string("Device0", s, 256));
  auto sub = open_key(test_subkey);
  ASSERT_TRUE(sub);
  EXPECT_EQ(text_of(*sub, "Device0"), "PXA270-1234");
}

TEST(SettingsMemoryAndPlatform, RoundTrip) {
  use_memory_store();
  EXPECT_EQ(store_path(), "");
  exercise_store();
  // A fresh memory store starts empty.
  use_memory_store();
  auto key = open_key(test_key);
  ASSERT_TRUE(key);
  EXPECT_EQ(dword_of(*key, "JTAGInterface"), std::nullopt);
  EXPECT_FALSE(open_key(""));

  // The default store: on Windows the registry under HKEY_CURRENT_USER; elsewhere the settings
  // file the tests point at (the file tests cover that store in depth).
  use_platform_store();
  exercise_store();
}

TEST(SettingsFileStore, RoundTripOnEveryPlatform) {
  // The TOML file store works on Windows too (the command line's settings file, tests).
  const test::TempDir dir;
  const std::string path = (dir.path() / "sub" / "settings.toml").string();
  use_file_store(path);
  EXPECT_EQ(store_path(), path);
  exercise_store();
  EXPECT_TRUE(std::filesystem::exists(path));
  use_memory_store();
  use_file_store(path);  // read back from the file alone
  auto key = open_key(test_key);
  ASSERT_TRUE(key);
  EXPECT_EQ(text_of(*key, "Image0"), "C:\\images\\nk.bin");
  EXPECT_EQ(dword_of(*key, "JTAGInterface"), 4u);
  key.reset();
  use_platform_store();
}

}  // namespace
}  // namespace dz::settings
