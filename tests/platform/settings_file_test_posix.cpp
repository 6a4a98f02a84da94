// The TOML settings file: persistence across stores, atomic writes, corrupt files kept aside,
// files that must not be replaced, texts of any bytes, and runs saving at the same time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include <cstdlib>
#include <filesystem>

#include "platform/debug.h"
#include "platform/settings.h"
#include "platform/settings_file.h"
#include "platform/settings_store.h"
#include "tests/support/settings_checks.h"

namespace dz::settings {
namespace {

namespace fs = std::filesystem;
using test::dword_of;
using test::line_count;
using test::read_text;
using test::stderr_of;
using test::text_of;
using test::write_text;

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
  fs::path dir_;
  std::string path_;
};

TEST_F(SettingsFile, ValuesAndTextsOfAnyBytesPersistAcrossStores) {
  // The file's folders do not exist yet: they are made when the values are written.
  const fs::path folder = dir_ / "a" / "b";
  const std::string path = (folder / "settings.toml").string();
  const std::string odd_name = std::string("/srv/a\xFF\xFE b\x80.bin");
  const std::string module = std::string("PXA\xC0\xAF\xED\xA0\x80\xF4\x90") + "\"x\\";
  const std::string utf8 = "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC.bin";
  use_file_store(path);
  EXPECT_EQ(store_path(), path);
  {
    auto key = open_key(main_key);
    ASSERT_TRUE(key);
    std::uint32_t n = 5;
    EXPECT_FALSE(key->read_dword("JTAGSpeed", n));
    EXPECT_EQ(n, 5u);
    EXPECT_FALSE(fs::exists(path));  // reading creates nothing
    EXPECT_TRUE(key->write_dword("ImageROMOffset", 0xF2020000));
    EXPECT_TRUE(key->write_string("Bootloader0", "/srv/eboot \"quoted\".bin"));
    EXPECT_TRUE(key->write_string("Bootloader1", odd_name));
    EXPECT_TRUE(key->write_string("Image0", utf8));
    auto eth = open_key(ethernet_key);
    ASSERT_TRUE(eth);
    EXPECT_TRUE(eth->write_string("LastSelectedDevice", "PXA270-77"));
    EXPECT_TRUE(eth->write_string("Device0", module));
    EXPECT_FALSE(fs::exists(path));  // written when the last open key closes
  }
  EXPECT_TRUE(fs::exists(path));
  const std::string text = read_text(path);
  EXPECT_NE(text.find("ImageROMOffset = 4060217344"), std::string::npos) << text;
  EXPECT_NE(text.find("LastSelectedDevice"), std::string::npos);
  EXPECT_NE(text.find("Image0 = \"gr\xC3\xBC"), std::string::npos);  // UTF-8 stays
  StoreData parsed;
  EXPECT_TRUE(file::parse(text, parsed));
  // No temporary file is left beside it; only the lock file that runs share.
  for (auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    EXPECT_TRUE(name == "settings.toml" || name == "settings.toml.lock") << name;
  }

  // The file is TOML still: the next start reads it without calling it corrupt.
  use_memory_store();
  const std::string err = stderr_of([&] { use_file_store(path); });
  EXPECT_TRUE(err.empty()) << err;
  EXPECT_FALSE(fs::exists(path + ".corrupt"));
  auto key = open_key(main_key);
  ASSERT_TRUE(key);
  EXPECT_EQ(dword_of(*key, "ImageROMOffset"), 0xF2020000u);
  EXPECT_EQ(text_of(*key, "Bootloader0"), "/srv/eboot \"quoted\".bin");
  EXPECT_EQ(text_of(*key, "Bootloader1"), odd_name);
  EXPECT_EQ(text_of(*key, "Image0"), utf8);
  auto eth = open_key(ethernet_key);
  EXPECT_EQ(text_of(*eth, "LastSelectedDevice"), "PXA270-77");
  EXPECT_EQ(text_of(*eth, "Device0"), module);
}

TEST_F(SettingsFile, CorruptFilesAreKeptInNumberedBackupsAndDefaultsApply) {
  const std::string first =
      "[\"Software\\\\Belvona\\\\DividezUrirer\"]\nComPort = \"COM4\nbroken\n";
  write_text(path_, first);
  std::vector<std::string> lines;
  debug::set_sink([&](std::string_view line) { lines.emplace_back(line); });
  std::string err = stderr_of([&] { use_file_store(path_); });
  EXPECT_TRUE(lines.empty());  // the message goes to stderr only
  EXPECT_NE(err.find("is corrupt"), std::string::npos) << err;
  EXPECT_EQ(line_count(err), 1) << err;
  EXPECT_EQ(read_text(path_ + ".corrupt"), first);
  {
    auto key = open_key(main_key);
    ASSERT_TRUE(key);
    std::string s = "COM1";
    EXPECT_FALSE(key->read_string("ComPort", s, 16));
    EXPECT_EQ(s, "COM1");
    // Writing makes a fresh, good file; the corrupt one stays aside.
    EXPECT_TRUE(key->write_string("ComPort", "COM2"));
  }
  EXPECT_FALSE(settings_save_failed());
  err = stderr_of([&] { use_file_store(path_); });
  debug::set_sink(nullptr);
  EXPECT_TRUE(err.empty()) << err;
  EXPECT_EQ(text_of(*open_key(main_key), "ComPort", 16), "COM2");

  // A second corrupt file does not overwrite the first backup; the same one twice is kept once.
  const std::string second = "= second\n";
  write_text(path_, second);
  err = stderr_of([&] {
    use_file_store(path_);
    use_file_store(path_);
  });
  EXPECT_NE(err.find(path_ + ".corrupt.2"), std::string::npos) << err;
  EXPECT_EQ(read_text(path_ + ".corrupt"), first);
  EXPECT_EQ(read_text(path_ + ".corrupt.2"), second);
  EXPECT_FALSE(fs::exists(path_ + ".corrupt.3"));
}

TEST_F(SettingsFile, ValuesOfTheWrongTypeAreMissingSaidOnceAndKept) {
  write_text(path_,
             "top = 1\n"
             "[\"Software\\\\Belvona\\\\DividezUrirer\"]\n"
             "JTAGInterface = 3\n"
             "JTAGSpeed = \"0\"\n"
             "BootloaderFixIP = true\n"
             "ComPort = 5\n"
             "Negative = -1\n"
             "Huge = 4294967296\n"
             "List = [1, 2]\n"
             "Image0 = \"/srv/nk.bin\"\n");
  use_file_store(path_);
  EXPECT_FALSE(fs::exists(path_ + ".corrupt"));
  {
    auto key = open_key(main_key);
    EXPECT_EQ(dword_of(*key, "JTAGInterface"), 3u);
    const std::string err = stderr_of([&] {
      for (int pass = 0; pass < 2; ++pass) {
        std::uint32_t n = 77;
        for (const char* name : {"JTAGSpeed", "BootloaderFixIP", "Negative", "Huge", "List"}) {
          EXPECT_FALSE(key->read_dword(name, n)) << name;
          EXPECT_EQ(n, 77u) << name;  // "0" is not 0x30, true is not 1
        }
        std::string s = "COM1";
        EXPECT_FALSE(key->read_string("ComPort", s, 16));
        EXPECT_EQ(s, "COM1");
      }
    });
    EXPECT_EQ(line_count(err), 6) << err;
    EXPECT_NE(err.find("\"JTAGSpeed\" in " + path_ + " is not a number"), std::string::npos);
    EXPECT_NE(err.find("\"ComPort\" in " + path_ + " is not a text"), std::string::npos);
    EXPECT_TRUE(key->write_string("Image1", "/srv/other.bin"));
  }
  // Saving another value leaves the hand-edited entries as they were (the list excepted).
  const std::string text = read_text(path_);
  for (const char* entry : {"JTAGSpeed = \"0\"", "BootloaderFixIP = true", "ComPort = 5",
                            "Negative = -1", "Huge = 4294967296", "Image1 = "})
    EXPECT_NE(text.find(entry), std::string::npos) << entry << "\n" << text;
}

TEST_F(SettingsFile, PathsThatAreNoRegularFileAreNeverReplaced) {
  // A folder, a FIFO and (where the test may make one) a character device.
  std::vector<std::string> paths = {path_};
  fs::create_directories(path_);
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  paths.push_back(fifo);
  const std::string device = (dir_ / "null").string();
  if (::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) paths.push_back(device);
  for (const std::string& p : paths) {
    const std::string err = stderr_of([&] {
      use_file_store(p);
      auto key = open_key(main_key);
      ASSERT_TRUE(key);
      EXPECT_FALSE(key->write_dword("JTAGInterface", 1));
      std::uint32_t n = 9;
      EXPECT_FALSE(key->read_dword("JTAGInterface", n));
      EXPECT_EQ(n, 9u);
    });
    EXPECT_TRUE(settings_save_failed()) << p;
    EXPECT_NE(err.find("is not a regular file"), std::string::npos) << err;
    EXPECT_NE(err.find("not saved"), std::string::npos) << err;
    const fs::file_type type = fs::symlink_status(p).type();  // still there, and as it was
    EXPECT_TRUE(type != fs::file_type::regular && type != fs::file_type::not_found) << p;
  }
  for (auto& e : fs::directory_iterator(dir_)) {
    const std::string name = e.path().filename().string();
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;  // no temporary file left behind
  }
}

TEST_F(SettingsFile, UnreadableFileIsNeverReplaced) {
  // More than any settings file holds: it cannot be taken in, so it must not be lost either.
  const std::string big = "# " + std::string(file::max_file_size, 'x') + "\n";
  write_text(path_, big);
  const std::string err = stderr_of([&] {
    use_file_store(path_);
    auto key = open_key(main_key);
    ASSERT_TRUE(key);
    std::uint32_t n = 9;
    EXPECT_FALSE(key->read_dword("JTAGInterface", n));
    EXPECT_FALSE(key->write_dword("JTAGInterface", 1));
    EXPECT_FALSE(key->write_dword("JTAGSpeed", 1));
  });
  EXPECT_NE(err.find("cannot be read"), std::string::npos) << err;
  EXPECT_NE(err.find("nothing will be saved"), std::string::npos) << err;
  EXPECT_EQ(line_count(err), 2) << err;  // unreadable; not saved
  EXPECT_TRUE(settings_save_failed());
  EXPECT_EQ(read_text(path_), big);
  EXPECT_FALSE(fs::exists(path_ + ".corrupt"));
}

TEST_F(SettingsFile, ReadOnlyFileOrFolderIsNotReplacedAndTheRunSaysSo) {
  write_text(path_, "[\"Software\\\\Belvona\\\\DividezUrirer\"]\nJTAGInterface = 2\n");
  const std::string before = read_text(path_);
  for (const bool folder : {false, true}) {
    if (folder) {
      fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
      fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    } else {
      fs::permissions(path_, fs::perms::owner_read | fs::perms::group_read);
    }
    use_file_store(path_);
    EXPECT_FALSE(settings_save_failed());
    const std::string err = stderr_of([&] {
      auto key = open_key(main_key);
      EXPECT_EQ(dword_of(*key, "JTAGInterface"), 2u);
      EXPECT_TRUE(key->write_dword("JTAGInterface", 3));  // kept until the key closes
    });
    EXPECT_TRUE(settings_save_failed()) << folder;
    EXPECT_NE(err.find("settings not saved to " + path_), std::string::npos) << err;
    EXPECT_NE(err.find(folder ? "folder is read-only" : "file is read-only"), std::string::npos)
        << err;
    EXPECT_EQ(read_text(path_), before);
  }
  fs::permissions(dir_, fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(path_ + ".lock"));  // not even the lock file was made
}

TEST_F(SettingsFile, LinkIsFollowedAndModeKept) {
  const fs::path target_dir = dir_ / "real";
  fs::create_directories(target_dir);
  const std::string target = (target_dir / "settings.toml").string();
  write_text(target, "[\"Software\\\\Belvona\\\\DividezUrirer\"]\nComPort = \"COM3\"\n");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  fs::create_symlink(fs::path("real") / "settings.toml", path_);  // relative, as users make them
  use_file_store(path_);
  {
    auto key = open_key(main_key);
    EXPECT_EQ(text_of(*key, "ComPort", 16), "COM3");
    EXPECT_TRUE(key->write_string("ComPort", "COM7"));
  }
  EXPECT_FALSE(settings_save_failed());
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_NE(read_text(target).find("ComPort = \"COM7\""), std::string::npos) << read_text(target);
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
}

TEST_F(SettingsFile, SavesAtTheSameTimeKeepEveryChange) {
  // Each store stands for a run of its own; they all save at once, each its own value.
  constexpr int runs = 8;
  std::vector<std::unique_ptr<Store>> stores;
  for (int i = 0; i < runs; ++i) stores.push_back(make_file_store(path_));
  std::vector<std::thread> threads;
  for (int i = 0; i < runs; ++i)
    threads.emplace_back([&, i] {
      for (int round = 0; round < 5; ++round) {
        auto key = stores[i]->open(main_key);
        key->write_dword("Run" + std::to_string(i), static_cast<std::uint32_t>(round));
      }
    });
  for (auto& t : threads) t.join();
  // The file is whole and holds every run's last value.
  use_file_store(path_);
  EXPECT_FALSE(fs::exists(path_ + ".corrupt"));
  auto key = open_key(main_key);
  for (int i = 0; i < runs; ++i) EXPECT_EQ(dword_of(*key, "Run" + std::to_string(i)), 4u) << i;
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
  // Formats `data` and parses it back.
  const auto round_trip = [](const StoreData& data) {
    StoreData back;
    EXPECT_TRUE(file::parse(file::format(data), back)) << file::format(data);
    return back;
  };
  StoreData data;
  data["Software\\Belvona\\DividezUrirer"].values["A"] = dword_value(0xFFFFFFFF);
  data["Software\\Belvona\\DividezUrirer"].values["T"] = string_value("line\nwith \"quotes\" \\");
  data["Software\\Belvona\\DividezUrirer\\Ethernet"].values["N"] = dword_value(0);
  StoreData back = round_trip(data);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back["Software\\Belvona\\DividezUrirer"].values["A"].bytes,
            dword_value(0xFFFFFFFF).bytes);
  EXPECT_EQ(back["Software\\Belvona\\DividezUrirer"].values["T"].bytes,
            string_value("line\nwith \"quotes\" \\").bytes);
  // Names that are not bare TOML keys still come back (a quote once came out unquoted).
  StoreData odd;
  odd["it's \"odd\"\t\x01"].values["a'b"] = string_value("\x7f");
  back = round_trip(odd);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back.begin()->first, "it's \"odd\"\t\x01");
  EXPECT_EQ(back.begin()->second.values["a'b"].bytes, string_value("\x7f").bytes);
  // Texts that are not UTF-8 come back byte for byte.
  StoreData bytes;
  bytes["K"].values["T"] = string_value("\xFF\x01\xC3");
  back = round_trip(bytes);
  EXPECT_EQ(back["K"].values["T"].bytes, string_value("\xFF\x01\xC3").bytes);
  EXPECT_FALSE(file::parse("[[[", back));
  EXPECT_TRUE(back.empty());
  EXPECT_FALSE(file::parse(std::string(2u << 20, '#'), back));  // far too large
}

TEST(SettingsFileText, NonAsciiOnlyInStringsAndComments) {
  // Texts that once drove the TOML reader into a branch it takes for unreachable (seen under the
  // undefined-behaviour sanitizer): refused as not TOML, without reading further.
  StoreData data;
  for (const std::string& text :
       {std::string("\xD0\xA3"), std::string("x = \"\"\"\\\xCB\x8D\"\"\"\n"),
        std::string("''=-\0\0oo=*\x01-\x1f'\xCA\xBE", 17),
        std::string("s=+\"bn\xCE\xBB"
                    "1=\r0=")})
    EXPECT_FALSE(file::parse(text, data)) << text;
  // UTF-8 in strings, quoted names and comments is TOML and reads as it is.
  ASSERT_TRUE(file::parse(
      "# r\xC3\xA9glages\n[\"K\xC3\xA9\"]\n\"n\xC3\xA9\" = 'caf\xC3\xA9' # \xE2\x82\xAC\n"
      "m = \"\"\"\n\xC3\xA9\"\"\"\n",
      data));
  std::string s;
  ASSERT_TRUE(read_string_value(data["K\xC3\xA9"].values["n\xC3\xA9"], s, 64));
  EXPECT_EQ(s, "caf\xC3\xA9");
  ASSERT_TRUE(read_string_value(data["K\xC3\xA9"].values["m"], s, 64));
  EXPECT_EQ(s, "\xC3\xA9");
}

}  // namespace
}  // namespace dz::settings
