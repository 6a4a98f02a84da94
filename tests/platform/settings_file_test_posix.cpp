// The TOML settings file: persistence across stores, atomic writes, corrupt files set aside.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/debug.h"
#include "platform/settings.h"
#include "platform/settings_file.h"

namespace dz::settings {
namespace {

namespace fs = std::filesystem;

// The platform store of this test program is a file in the build tree, never the user's own.
const bool settings_in_build_tree = [] {
  const std::string p = std::string(DZ_BINARY_DIR) + "/test-settings/platform-" +
                        std::to_string(::getpid()) + ".toml";
  ::setenv("DIVIDEZURIRER_SETTINGS", p.c_str(), 1);
  return true;
}();

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(DZ_BINARY_DIR) / "test-settings" /
           (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "settings.toml").string();
  }
  void TearDown() override {
    use_platform_store();
    fs::remove_all(dir_);
  }
  std::string read_file(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void write_file(const std::string& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary);
    out << text;
  }
  fs::path dir_;
  std::string path_;
};

TEST_F(SettingsFile, ValuesPersistAcrossStores) {
  use_file_store(path_);
  EXPECT_EQ(store_path(), path_);
  {
    auto key = open_key(main_key);
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->write_dword("ImageROMOffset", 0xF2020000));
    EXPECT_TRUE(key->write_string("Bootloader0", "/srv/eboot \"quoted\".bin"));
    auto eth = open_key(ethernet_key);
    ASSERT_TRUE(eth);
    EXPECT_TRUE(eth->write_string("LastSelectedDevice", "PXA270-77"));
  }
  const std::string text = read_file(path_);
  EXPECT_NE(text.find("ImageROMOffset = 4060217344"), std::string::npos) << text;
  EXPECT_NE(text.find("LastSelectedDevice"), std::string::npos);
  // No temporary file is left beside it.
  int files = 0;
  for (auto& e : fs::directory_iterator(dir_)) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1);

  use_memory_store();
  use_file_store(path_);
  auto key = open_key(main_key);
  ASSERT_TRUE(key);
  std::uint32_t n = 0;
  EXPECT_TRUE(key->read_dword("ImageROMOffset", n));
  EXPECT_EQ(n, 0xF2020000u);
  std::string s;
  EXPECT_TRUE(key->read_string("Bootloader0", s, 256));
  EXPECT_EQ(s, "/srv/eboot \"quoted\".bin");
  auto eth = open_key(ethernet_key);
  EXPECT_TRUE(eth->read_string("LastSelectedDevice", s, 256));
  EXPECT_EQ(s, "PXA270-77");
}

TEST_F(SettingsFile, MissingFileGivesDefaultsAndDirectoriesAreMade) {
  const std::string nested = (dir_ / "a" / "b" / "settings.toml").string();
  use_file_store(nested);
  auto key = open_key(main_key);
  ASSERT_TRUE(key);
  std::uint32_t n = 5;
  EXPECT_FALSE(key->read_dword("JTAGSpeed", n));
  EXPECT_EQ(n, 5u);
  EXPECT_FALSE(fs::exists(nested));  // reading creates nothing
  EXPECT_TRUE(key->write_dword("JTAGSpeed", 2000000));
  EXPECT_TRUE(fs::exists(nested));
}

TEST_F(SettingsFile, CorruptFileIsSetAsideOnceAndDefaultsApply) {
  write_file(path_, "[\"Software\\\\Belvona\\\\DividezUrirer\"]\nComPort = \"COM4\nbroken = = =\n");
  std::vector<std::string> lines;
  debug::set_sink([&](std::string_view line) { lines.emplace_back(line); });
  testing::internal::CaptureStderr();
  use_file_store(path_);
  const std::string err = testing::internal::GetCapturedStderr();
  debug::set_sink(nullptr);
  EXPECT_EQ(lines.size(), 1u);
  EXPECT_NE(err.find("unreadable"), std::string::npos);
  EXPECT_TRUE(fs::exists(path_ + ".corrupt"));
  EXPECT_FALSE(fs::exists(path_));
  auto key = open_key(main_key);
  ASSERT_TRUE(key);
  std::string s = "COM1";
  EXPECT_FALSE(key->read_string("ComPort", s, 16));
  EXPECT_EQ(s, "COM1");
  // Writing makes a fresh, good file; the corrupt one stays aside.
  EXPECT_TRUE(key->write_string("ComPort", "COM2"));
  lines.clear();
  debug::set_sink([&](std::string_view line) { lines.emplace_back(line); });
  use_file_store(path_);
  debug::set_sink(nullptr);
  EXPECT_TRUE(lines.empty());
  key = open_key(main_key);
  EXPECT_TRUE(key->read_string("ComPort", s, 16));
  EXPECT_EQ(s, "COM2");
}

TEST_F(SettingsFile, ForeignEntriesAreSkippedNotFatal) {
  write_file(path_,
             "top = 1\n"
             "[\"Software\\\\Belvona\\\\DividezUrirer\"]\n"
             "JTAGInterface = 3\n"
             "Negative = -1\n"
             "Huge = 4294967296\n"
             "Flag = true\n"
             "List = [1, 2]\n"
             "ComPort = \"COM9\"\n");
  use_file_store(path_);
  EXPECT_FALSE(fs::exists(path_ + ".corrupt"));
  auto key = open_key(main_key);
  std::uint32_t n = 0;
  EXPECT_TRUE(key->read_dword("JTAGInterface", n));
  EXPECT_EQ(n, 3u);
  for (const char* name : {"Negative", "Huge", "Flag", "List"}) {
    EXPECT_FALSE(key->read_dword(name, n)) << name;
  }
  std::string s;
  EXPECT_TRUE(key->read_string("ComPort", s, 16));
  EXPECT_EQ(s, "COM9");
}

TEST_F(SettingsFile, FailedWriteChangesNothing) {
  // The target path is a directory: the rename cannot replace it, so every write fails.
  fs::create_directories(path_);
  use_file_store(path_);
  auto key = open_key(main_key);
  ASSERT_TRUE(key);
  EXPECT_FALSE(key->write_dword("JTAGInterface", 1));
  std::uint32_t n = 9;
  EXPECT_FALSE(key->read_dword("JTAGInterface", n));
  EXPECT_EQ(n, 9u);
  for (auto& e : fs::directory_iterator(dir_)) {
    EXPECT_EQ(e.path().filename(), "settings.toml");  // no temporary file left behind
  }
}

TEST_F(SettingsFile, DefaultPathFollowsEnvironment) {
  const char* saved = std::getenv("DIVIDEZURIRER_SETTINGS");
  const std::string saved_value = saved ? saved : "";
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const std::string xdg_value = xdg ? xdg : "";
  ::setenv("DIVIDEZURIRER_SETTINGS", path_.c_str(), 1);
  EXPECT_EQ(file::default_path(), path_);
  use_platform_store();
  EXPECT_EQ(store_path(), path_);
  ::unsetenv("DIVIDEZURIRER_SETTINGS");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(file::default_path(), "/cfg/DividezUrirer/settings.toml");
  if (xdg) {
    ::setenv("XDG_CONFIG_HOME", xdg_value.c_str(), 1);
  } else {
    ::unsetenv("XDG_CONFIG_HOME");
  }
  if (saved) ::setenv("DIVIDEZURIRER_SETTINGS", saved_value.c_str(), 1);
}

TEST(SettingsFileText, FormatParsesBack) {
  StoreData data;
  data["Software\\Belvona\\DividezUrirer"].values["A"] = dword_value(0xFFFFFFFF);
  data["Software\\Belvona\\DividezUrirer"].values["T"] = string_value("line\nwith \"quotes\" \\");
  data["Software\\Belvona\\DividezUrirer\\Ethernet"].values["N"] = dword_value(0);
  StoreData back;
  ASSERT_TRUE(file::parse(file::format(data), back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back["Software\\Belvona\\DividezUrirer"].values["A"].bytes,
            dword_value(0xFFFFFFFF).bytes);
  EXPECT_EQ(back["Software\\Belvona\\DividezUrirer"].values["T"].bytes,
            string_value("line\nwith \"quotes\" \\").bytes);
  // Names that are not bare TOML keys still come back (a quote once came out unquoted).
  StoreData odd;
  odd["it's \"odd\"\t\x01"].values["a'b"] = string_value("\x7f");
  ASSERT_TRUE(file::parse(file::format(odd), back)) << file::format(odd);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back.begin()->first, "it's \"odd\"\t\x01");
  EXPECT_EQ(back.begin()->second.values["a'b"].bytes, string_value("\x7f").bytes);
  EXPECT_FALSE(file::parse("[[[", back));
  EXPECT_TRUE(back.empty());
  EXPECT_FALSE(file::parse(std::string(2u << 20, '#'), back));  // far too large
}

}  // namespace
}  // namespace dz::settings
