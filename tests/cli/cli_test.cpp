// The command line as a user meets it: the real dividezurirer and cebin programs run as
// subprocesses with a temporary settings file; exit statuses and plain-line output are checked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/image/image_builder.h"

namespace dz::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct Outcome {
  int status = -1;
  std::string out, err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() /
        ("dz_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    settings_ = (dir_ / "settings.toml").string();
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  static std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  }
  static std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                      bool with_settings = true) {
    std::string line = "cd " + quote(dir_.string()) + " && ";
    if (with_settings) line += "DIVIDEZURIRER_SETTINGS=" + quote(settings_) + " ";
    line += "timeout 60 " + quote(program);
    for (const auto& a : args) line += " " + quote(a);
    line += " >out.txt 2>err.txt </dev/null; echo $? >status.txt";
    EXPECT_EQ(std::system(line.c_str()), 0);
    Outcome run;
    run.status = std::atoi(slurp(dir_ / "status.txt").c_str());
    run.out = slurp(dir_ / "out.txt");
    run.err = slurp(dir_ / "err.txt");
    return run;
  }
  Outcome dz(const std::vector<std::string>& args) {
    return run_program(std::string(DZ_BINARY_DIR) + "/app/programs/dividezurirer", args);
  }
  Outcome cebin(const std::vector<std::string>& args) {
    return run_program(std::string(DZ_BINARY_DIR) + "/tools/cebin", args, false);
  }

  std::string write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return (dir_ / name).string();
  }

  static bool has_control_codes(const std::string& text) {
    for (char c : text)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') return true;
    return false;
  }

  std::filesystem::path dir_;
  std::string settings_;
};

TEST_F(CliTest, InfoDescribesAnImageAndItsRecords) {
  std::vector<ImageRecord> records = {{0x80000000, std::vector<std::uint8_t>(0x100, 1), 0x100},
                                      {0x80001000, std::vector<std::uint8_t>(0x200, 2), 0x400}};
  const std::string image =
      write_file("nk.bin", make_image(0x80000000, 0x1200, records, 0x80000040));
  const std::string raw = write_file("data.raw", std::vector<std::uint8_t>(5000, 0));
  Outcome run = dz({"info", image, raw});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("Image Type:   WinCE\n"));
  EXPECT_THAT(run.out, HasSubstr("Image Start:  0x80000000\n"));
  EXPECT_THAT(run.out, HasSubstr("Image Length: 0x00001200 (4 KB)\n"));
  EXPECT_THAT(run.out, HasSubstr("2 data records and the terminator"));
  EXPECT_THAT(run.out, HasSubstr("      1  0x80001000  0x00000200  0x00000400\n"));
  EXPECT_THAT(run.out, HasSubstr("      2  terminator  0x80000040\n"));
  EXPECT_THAT(run.out, HasSubstr("Image Type:   Raw\n"));
  EXPECT_THAT(run.out, HasSubstr("Image Length: 0x00001388 (4 KB)\n"));
  EXPECT_FALSE(has_control_codes(run.out));
  EXPECT_FALSE(has_control_codes(run.err));
}

TEST_F(CliTest, InfoFailsForAMissingFileAndWarnsOfABrokenImage) {
  Outcome missing = dz({"info", "missing.bin"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("cannot be opened"));

  std::vector<std::uint8_t> cut =
      make_image(0x80000000, 0x100, {{0x80000000, std::vector<std::uint8_t>(0x100, 3)}});
  cut.resize(cut.size() - 40);
  Outcome broken = dz({"info", write_file("cut.bin", cut)});
  EXPECT_THAT(broken.out, HasSubstr("Image Type:   WinCE"));
  EXPECT_THAT(broken.err, HasSubstr("cannot be downloaded"));
}

TEST_F(CliTest, OptionsShowChangeAndPersist) {
  Outcome shown = dz({"options"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_THAT(shown.out, HasSubstr("IP Address:                             192.168.0.1\n"));
  EXPECT_THAT(shown.out, HasSubstr("Subnet Mask:                            255.255.255.0\n"));
  EXPECT_THAT(shown.out, HasSubstr("Offset:                                 0xf2020000\n"));

  Outcome changed = dz({"options", "--fix-ip", "10.1.2.3", "--subnet", "255.255.0.0", "--fast-boot",
                        "--rom-offset", "0x00100000"});
  EXPECT_EQ(changed.status, 0) << changed.err;

  Outcome again = dz({"options"});
  EXPECT_THAT(again.out, HasSubstr("Program Fix IP and SubnetMask:          on\n"));
  EXPECT_THAT(again.out, HasSubstr("IP Address:                             10.1.2.3\n"));
  EXPECT_THAT(again.out, HasSubstr("Subnet Mask:                            255.255.0.0\n"));
  EXPECT_THAT(again.out, HasSubstr("Fast Boot (No Image Download Possible): on\n"));
  EXPECT_THAT(again.out, HasSubstr("Offset IMAGE:                           on\n"));
  EXPECT_THAT(again.out, HasSubstr("Offset:                                 0x00100000\n"));
  EXPECT_THAT(slurp(settings_), ::testing::ContainsRegex("BootloaderIP\"? = 167838211"));

  Outcome off = dz({"options", "--no-fix-ip", "--no-rom-offset"});
  EXPECT_EQ(off.status, 0);
  EXPECT_THAT(off.out, HasSubstr("Program Fix IP and SubnetMask:          off\n"));
  EXPECT_THAT(off.out, HasSubstr("IP Address:                             10.1.2.3\n"));  // kept
  EXPECT_THAT(off.out, HasSubstr("Offset IMAGE:                           off\n"));
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  EXPECT_EQ(dz({}).status, 2);
  EXPECT_EQ(dz({"nonsense"}).status, 2);
  EXPECT_EQ(dz({"options", "--fix-ip", "300.1.1.1"}).status, 2);
  EXPECT_EQ(dz({"options", "--fix-ip", "1.2.3.4", "--no-fix-ip"}).status, 2);
  EXPECT_EQ(dz({"options", "--subnet", "255.0.0.0"}).status, 2);
  EXPECT_EQ(dz({"image", "x.bin", "--via", "usb"}).status, 2);
  EXPECT_EQ(dz({"--yes", "--no", "options"}).status, 2);
  Outcome target = dz({"--target", "sim:no-such-module", "options"});
  EXPECT_EQ(target.status, 2);
  EXPECT_THAT(target.err, HasSubstr("unknown simulated module 'no-such-module'; available:"));
  EXPECT_EQ(dz({"--target", "hardware", "options"}).status, 2);
}

TEST_F(CliTest, HelpHasExamplesForEveryCommand) {
  for (const char* command : {"info", "bootloader", "image", "options"}) {
    Outcome help = dz({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_THAT(help.out, HasSubstr("Examples:")) << command;
  }
  Outcome top = dz({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_THAT(top.out, HasSubstr("HTML Help"));
}

TEST_F(CliTest, DownloadOfAMissingFileFailsAndRawStartIsChecked) {
  Outcome missing = dz({"image", "missing.bin", "--via", "serial"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.err, HasSubstr("Cannot open"));
  const std::string image = write_file(
      "nk.bin", make_image(0x80000000, 0x10, {{0x80000000, std::vector<std::uint8_t>(0x10, 1)}}));
  Outcome start = dz({"image", image, "--start", "0x80000000"});
  EXPECT_EQ(start.status, 2);
  EXPECT_THAT(start.err, HasSubstr("--start is for raw files"));
}

TEST_F(CliTest, DetectionTimeOutFailsAndTheFileIsRemembered) {
  const std::string image = write_file(
      "nk.bin", make_image(0x80000000, 0x10, {{0x80000000, std::vector<std::uint8_t>(0x10, 1)}}));
  // A serial port that does not exist: detection cannot start, the job fails.
  std::ofstream(settings_) << "[\"Software\\\\Belvona\\\\DividezUrirer\"]\n\"ComPort\" = \""
                           << (dir_ / "no-such-tty").string() << "\"\n";
  Outcome run = dz({"image", image, "--via", "serial", "--detect-timeout", "2"});
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("Device Detection (Serial Interface)"));
  EXPECT_THAT(run.err, HasSubstr("Download failed."));
  EXPECT_FALSE(has_control_codes(run.out));
  // The window closed normally: the file is now the most recent image.
  EXPECT_THAT(slurp(settings_), ::testing::ContainsRegex("Image0\"? = "));
}

TEST_F(CliTest, CebinBuildsImagesThatTheLoaderReads) {
  const std::string data = write_file("data.raw", std::vector<std::uint8_t>(4096, 0xA5));
  Outcome made = cebin({"make", "out.bin", "--record", "0x80001000=" + data, "--record",
                        "0x80000000=" + data, "--entry", "0x80000100"});
  EXPECT_EQ(made.status, 0) << made.err;
  Outcome listed = cebin({"list", "out.bin"});
  EXPECT_EQ(listed.status, 0) << listed.out;
  EXPECT_THAT(listed.out, HasSubstr("start 0x80000000, length 0x00002000 (8 KB)"));
  EXPECT_THAT(listed.out, HasSubstr("0  0x80000000  0x00001000  0x000a5000  ok"));
  EXPECT_THAT(listed.out, HasSubstr("2  terminator  0x80000100"));

  Outcome info = dz({"info", (dir_ / "out.bin").string()});
  EXPECT_THAT(info.out, HasSubstr("Image Length: 0x00002000 (8 KB)"));

  // Overlapping records are refused; a corrupted checksum is reported.
  EXPECT_EQ(
      cebin({"make", "bad.bin", "--record", "0x80000000=" + data, "--record", "0x80000800=" + data})
          .status,
      1);
  std::string bytes = slurp(dir_ / "out.bin");
  bytes[15 + 12 + 5] ^= 1;
  write_file("flipped.bin", std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  Outcome flipped = cebin({"list", "flipped.bin"});
  EXPECT_EQ(flipped.status, 1);
  EXPECT_THAT(flipped.out, HasSubstr("BAD"));

  Outcome sample =
      cebin({"sample", "s.bin", "--start", "0x80000000", "--length", "0x40000", "--records", "4"});
  EXPECT_EQ(sample.status, 0);
  EXPECT_EQ(cebin({"list", "s.bin"}).status, 0);
}

}  // namespace
}  // namespace dz::testing
