// The settings file as the dividezurirer program leaves it: commands that only show write
// nothing, and a save that cannot be made is said on stderr.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/settings_checks.h"

namespace {

namespace fs = std::filesystem;

class SettingsProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(DZ_BINARY_DIR) / "test-settings-program" /
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "conf");
    settings_ = (dir_ / "conf" / "settings.toml").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir_ / "conf", fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }

  static std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }
  static std::string slurp(const fs::path& path) { return dz::test::read_text(path.string()); }
  // Runs the program; returns its stderr.
  std::string dz(const std::vector<std::string>& args) {
    std::string line = "cd " + quote(dir_.string()) +
                       " && DIVIDEZURIRER_SETTINGS=" + quote(settings_) + " timeout 60 " +
                       quote(std::string(DZ_BINARY_DIR) + "/app/programs/dividezurirer");
    for (const auto& a : args) line += " " + quote(a);
    line += " >out.txt 2>err.txt </dev/null";
    [[maybe_unused]] const int status = std::system(line.c_str());
    return slurp(dir_ / "err.txt");
  }

  fs::path dir_;
  std::string settings_;
};

TEST_F(SettingsProgram, CommandsThatOnlyShowWriteNothingAndAFailedSaveIsSaid) {
  dz({"options"});
  dz({"jtag"});
  EXPECT_FALSE(fs::exists(settings_));
  dz({"options", "--fix-ip", "10.0.0.9"});
  ASSERT_TRUE(fs::exists(settings_));
  const std::string text = slurp(settings_);
  EXPECT_NE(text.find("BootloaderIP = 167772169"), std::string::npos) << text;
  EXPECT_EQ(text.find("JTAGSpeed"), std::string::npos) << text;  // not changed, not written
  const auto mtime = fs::last_write_time(settings_) - std::chrono::seconds(10);
  fs::last_write_time(settings_, mtime);
  dz({"options"});
  dz({"jtag"});
  EXPECT_EQ(fs::last_write_time(settings_), mtime);
  EXPECT_EQ(slurp(settings_), text);

  // A save in a read-only folder is said and changes nothing.
  fs::permissions(dir_ / "conf", fs::perms::owner_read | fs::perms::owner_exec);
  const std::string err = dz({"options", "--fix-ip", "10.0.0.10"});
  EXPECT_NE(err.find("settings not saved to " + settings_ + ": its folder is read-only"),
            std::string::npos)
      << err;
  EXPECT_EQ(slurp(settings_), text);
}

}  // namespace
