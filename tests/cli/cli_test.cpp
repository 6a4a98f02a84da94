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

#include "platform/serial_port.h"
#include "platform/udp.h"
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
    const std::filesystem::path cwd = cwd_.empty() ? dir_ : cwd_;
    std::string line = "cd " + quote(cwd.string()) + " && ";
    if (with_settings) line += "DIVIDEZURIRER_SETTINGS=" + quote(settings_) + " ";
    line += environment_;
    // Generous: sanitizer builds on a loaded machine run simulated downloads slowly.
    line += "timeout 300 " + quote(program);
    for (const auto& a : args) line += " " + quote(a);
    line += " >" + quote((dir_ / "out.txt").string()) + " 2>" + quote((dir_ / "err.txt").string()) +
            " </dev/null; echo $? >" + quote((dir_ / "status.txt").string());
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
  // Runs dividezurirer expecting it to fail with `status` and to say `text` on standard error.
  Outcome dz_fails(const std::vector<std::string>& args, int status, const std::string& text) {
    Outcome run = dz(args);
    EXPECT_EQ(run.status, status) << run.out << run.err;
    EXPECT_THAT(run.err, HasSubstr(text));
    return run;
  }
  Outcome cebin(const std::vector<std::string>& args) {
    return run_program(std::string(DZ_BINARY_DIR) + "/tools/cebin", args, false);
  }

  std::string write_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return temp_.write(name, bytes);
  }
  // Replaces the settings file with `entries` ("\"Name\" = value" lines) under the program's key
  // (or its subkey `under`).
  void store_settings(const std::string& entries, const std::string& under = "") {
    std::ofstream(settings_) << "[\"Software\\\\Belvona\\\\DividezUrirer" << under << "\"]\n"
                             << entries;
  }

  static bool has_control_codes(const std::string& text) {
    for (char c : text)
      if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') return true;
    return false;
  }

  // Every "Total Download:" at the start of a line.
  static int stage_lines(const std::string& out, const std::string& stage) {
    int count = 0;
    for (std::size_t at = out.find(stage); at != std::string::npos; at = out.find(stage, at + 1))
      if (at == 0 || out[at - 1] == '\n') ++count;
    return count;
  }
  static std::string read_bytes(const std::filesystem::path& path, std::size_t offset,
                                std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string bytes(size, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
  }

  test::TempDir temp_;
  const std::filesystem::path dir_ = temp_.path();
  std::filesystem::path cwd_;  // where the program runs; dir_ when empty
  std::string environment_;    // "NAME=value " pairs put before the program
  std::string settings_ = (dir_ / "settings.toml").string();
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

TEST_F(CliTest, MissingFilesFailBrokenImagesAreRefusedAndRawStartIsChecked) {
  dz_fails({"info", "missing.bin"}, 1, "Cannot open the file: it does not exist.");
  dz_fails({"image", "missing.bin", "--via", "serial"}, 1, "Cannot open");

  std::vector<std::uint8_t> cut =
      make_image(0x80000000, 0x100, {{0x80000000, std::vector<std::uint8_t>(0x100, 3)}});
  cut.resize(cut.size() - 40);
  Outcome broken = dz({"info", write_file("cut.bin", cut)});
  EXPECT_EQ(broken.status, 1);
  EXPECT_THAT(broken.out, HasSubstr("Image Type:   WinCE"));
  EXPECT_THAT(broken.err, HasSubstr("cannot be downloaded"));

  // An image of nothing but its header cannot be downloaded; the download says why before it
  // detects the module, so nothing is erased.
  const std::string header_only =
      write_file("header.bin", make_image(0x80000000, 0x1000, {}, 0, false));
  dz_fails({"info", header_only}, 1, "the image cannot be downloaded: ");
  Outcome download = dz_fails({"--target", "sim:pxa270-j3x16", "bootloader", header_only}, 1,
                              "Cannot download '" + header_only + "': ");
  EXPECT_THAT(download.out, Not(HasSubstr("Erasing Flash")));

  // --start is for raw files only.
  const std::string image = write_file(
      "nk.bin", make_image(0x80000000, 0x10, {{0x80000000, std::vector<std::uint8_t>(0x10, 1)}}));
  dz_fails({"image", image, "--start", "0x80000000"}, 2, "--start is for raw files");
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

  // The mask alone is refused while Fix IP is off, and changes it while Fix IP is on.
  dz_fails({"options", "--subnet", "255.255.255.128"}, 2, "give --fix-ip ADDRESS as well");
  EXPECT_EQ(dz({"options", "--fix-ip", "10.0.0.2"}).status, 0);
  EXPECT_EQ(dz({"options", "--subnet", "255.255.255.128"}).status, 0);
  Outcome alone = dz({"options"});
  EXPECT_THAT(alone.out, HasSubstr("IP Address:                             10.0.0.2\n"));
  EXPECT_THAT(alone.out, HasSubstr("Subnet Mask:                            255.255.255.128\n"));
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndNameTheUnknownCommand) {
  EXPECT_EQ(dz({}).status, 2);
  dz_fails({"bogus"}, 2, "unknown command 'bogus'");
  dz_fails({"--target", "sim:pxa270-j3x16", "--yes", "flash-it"}, 2, "unknown command 'flash-it'");
  EXPECT_EQ(dz({"options", "--fix-ip", "300.1.1.1"}).status, 2);
  EXPECT_EQ(dz({"options", "--fix-ip", "1.2.3.4", "--no-fix-ip"}).status, 2);
  EXPECT_EQ(dz({"image", "x.bin", "--via", "usb"}).status, 2);
  EXPECT_EQ(dz({"--yes", "--no", "options"}).status, 2);
  dz_fails({"--target", "sim:no-such-module", "options"}, 2,
           "unknown simulated module 'no-such-module'; available:");
  EXPECT_EQ(dz({"--target", "hardware", "options"}).status, 2);
}

TEST_F(CliTest, HelpHasExamplesForEveryCommandAndListsModelsAndDefaultAnswers) {
  for (const char* command : {"info", "bootloader", "image", "options"}) {
    Outcome help = dz({command, "--help"});
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_THAT(help.out, HasSubstr("Examples:")) << command;
  }
  Outcome top = dz({"--help"});
  EXPECT_EQ(top.status, 0);
  EXPECT_THAT(top.out, HasSubstr("HTML Help"));
  for (const char* model :
       {"pxa270-j3x16", "pxa320-nand-large", "serial-bootloader", "ethernet-module"})
    EXPECT_THAT(top.out, HasSubstr(std::string("  ") + model + " (")) << model;
  EXPECT_THAT(top.out, HasSubstr("\"BadBlock Table missing or corrupt ...\": Yes"));
  EXPECT_THAT(top.out, HasSubstr("\"FlashBlock at ...\": No"));
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

TEST_F(CliTest, AFifoAFolderOrADeviceIsRefusedAtOnce) {
  const std::string fifo = (dir_ / "pipe.bin").string();
  ASSERT_EQ(std::system(("mkfifo " + quote(fifo)).c_str()), 0);
  dz_fails({"info", fifo}, 1, "Cannot open the file: it is a FIFO.");
  dz_fails({"image", fifo, "--via", "serial"}, 1, "Cannot open '" + fifo + "': it is a FIFO.");
  dz_fails({"bootloader", dir_.string()}, 1, "it is a directory");
  dz_fails({"bootloader", "/dev/null"}, 1, "it is a device");

  // A FIFO at the top of both recent-file lists is described at start-up without opening it.
  store_settings("\"Bootloader0\" = \"" + fifo + "\"\n\"Image0\" = \"" + fifo + "\"\n");
  Outcome options = dz({"options"});
  EXPECT_EQ(options.status, 0) << options.err;
  Outcome top = dz_fails({"bootloader"}, 1, "Cannot open '" + fifo + "': it is a FIFO.");
  EXPECT_THAT(top.out, HasSubstr("taking the most recent bootloader, " + fifo));
}

TEST_F(CliTest, AFailedDetectionRemembersTheFileTakenLaterFromAnyFolder) {
  std::filesystem::create_directories(dir_ / "images");
  std::filesystem::create_directories(dir_ / "elsewhere");
  write_file("images/nk.bin",
             make_image(0x80000000, 0x10, {{0x80000000, std::vector<std::uint8_t>(0x10, 1)}}));
  // A serial port that does not exist: detection cannot start, the job fails.
  store_settings("\"ComPort\" = \"" + (dir_ / "no-such-tty").string() + "\"\n");
  // Named relative to the folder it is run from; remembered with its absolute path.
  Outcome first = dz({"image", "images/nk.bin", "--via", "serial", "--detect-timeout", "1"});
  EXPECT_EQ(first.status, 1) << first.out << first.err;
  EXPECT_THAT(first.out, HasSubstr("Device Detection (Serial Interface)"));
  EXPECT_THAT(first.err, HasSubstr("Download failed."));
  EXPECT_FALSE(has_control_codes(first.out));
  // The window closed normally: the file is now the most recent image.
  const std::string absolute = (dir_ / "images" / "nk.bin").string();
  EXPECT_THAT(slurp(settings_), ::testing::ContainsRegex("Image0\"? = \"" + absolute + "\""));

  cwd_ = dir_ / "elsewhere";
  Outcome again = dz({"image", "--via", "serial", "--detect-timeout", "1"});
  EXPECT_THAT(again.out, HasSubstr("No file given: taking the most recent image, " + absolute));
  EXPECT_THAT(again.out, HasSubstr("Download Image... " + absolute + " (WinCE,"));
  EXPECT_THAT(again.out, HasSubstr("Device Detection (Serial Interface)"));
}

TEST_F(CliTest, SimulatedDownloadsSayVerifiedOnlyWhenReadBack) {
  std::mt19937 rng(7);
  const auto first = random_bytes(rng, 0x900);
  const auto second = random_bytes(rng, 0x300);
  const std::string image = write_file(
      "eboot.bin", make_image(0x80000000, 0x2000, {{0x80000000, first}, {0x80001800, second}}));
  const std::string flash = (dir_ / "j3.flash").string();
  const std::string target = "sim:pxa270-j3x16,flash=" + flash;
  Outcome verified = dz({"--target", target, "bootloader", image, "--verify"});
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  EXPECT_THAT(verified.out, HasSubstr("over JTag Interface, verified\n"));
  EXPECT_EQ(stage_lines(verified.out, "Total Download:"), 1) << verified.out;
  EXPECT_EQ(read_bytes(flash, 0, first.size()), std::string(first.begin(), first.end()));
  EXPECT_EQ(read_bytes(flash, 0x1800, second.size()), std::string(second.begin(), second.end()));

  // A raw file is streamed: nothing is read back, and a fixed IP address is not patched in.
  const auto raw_bytes = random_bytes(rng, 0x1000);
  const std::string raw = write_file("loader.raw", raw_bytes);
  EXPECT_EQ(dz({"options", "--fix-ip", "10.0.0.9"}).status, 0);
  Outcome streamed = dz({"--target", target, "bootloader", raw, "--verify"});
  EXPECT_EQ(streamed.status, 0) << streamed.out << streamed.err;
  EXPECT_THAT(streamed.out, Not(HasSubstr(", verified")));
  EXPECT_THAT(streamed.out, HasSubstr("--verify: not done, a raw file is streamed"));
  EXPECT_THAT(streamed.out, HasSubstr("a raw file is written unchanged"));
  EXPECT_EQ(stage_lines(streamed.out, "Total Download:"), 1) << streamed.out;
  EXPECT_EQ(read_bytes(flash, 0, raw_bytes.size()),
            std::string(raw_bytes.begin(), raw_bytes.end()));
}

TEST_F(CliTest, ARefusedJtagChoiceChangesNothing) {
  EXPECT_EQ(dz({"jtag", "--adapter", "wiggler"}).status, 0);
  // This build has no USB JTAG library: the dialog refuses the USB adapter.
  dz_fails({"jtag", "--adapter", "usb", "--speed", "7000"}, 1, "the settings are unchanged");
  EXPECT_THAT(slurp(settings_), Not(HasSubstr("7000000")));
  Outcome next = dz({"jtag"});
  EXPECT_EQ(next.status, 0);
  EXPECT_EQ(next.err, "");
  EXPECT_THAT(next.out, HasSubstr("JTAG adapter: Wiggler (wiggler)\n"));
  EXPECT_THAT(next.out, HasSubstr("USB speed: 2000 kHz\n"));
}

TEST_F(CliTest, FastProgrammingIsTurnedOnAndOffAndKept) {
  Outcome shown = dz({"jtag"});
  EXPECT_THAT(shown.out, HasSubstr("Fast programming: off\n"));
  // This build has no USB JTAG library: a parallel cable, so that the dialog takes the choice.
  Outcome on = dz({"jtag", "--adapter", "belvona", "--fast", "on"});
  EXPECT_EQ(on.status, 0) << on.err;
  EXPECT_THAT(on.out, HasSubstr("Fast programming: on\n"));
  EXPECT_THAT(slurp(settings_), HasSubstr("JTAGFastProgramming = 1\n"));
  EXPECT_THAT(dz({"jtag"}).out, HasSubstr("Fast programming: on\n"));
  Outcome off = dz({"jtag", "--fast", "off"});
  EXPECT_EQ(off.status, 0) << off.err;
  EXPECT_THAT(slurp(settings_), HasSubstr("JTAGFastProgramming = 0\n"));
  EXPECT_NE(dz({"jtag", "--fast", "yes"}).status, 0);
  EXPECT_THAT(dz({"jtag"}).out, HasSubstr("Fast programming: off\n"));
}

TEST_F(CliTest, SerialPortMustBeATerminalDevice) {
  serial::PseudoTerminal pty;
  std::string error;
  ASSERT_TRUE(serial::open_pseudo_terminal(pty, error)) << error;
  Outcome chosen = dz({"serial", "--port", pty.slave_name});
  EXPECT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_THAT(chosen.out, HasSubstr("Serial port chosen: " + pty.slave_name + "\n"));
  EXPECT_THAT(slurp(settings_), HasSubstr("\"" + pty.slave_name + "\""));

  for (const std::string& not_a_port : {std::string("/dev/null"), dir_.string(), settings_})
    dz_fails({"serial", "--port", not_a_port}, 1, "is not a serial port");
  EXPECT_THAT(slurp(settings_), HasSubstr("\"" + pty.slave_name + "\""));

  // A stored port that is not a terminal is neither offered nor selected.
  store_settings("\"ComPort\" = \"/dev/null\"\n");
  Outcome listed = dz({"serial"});
  EXPECT_EQ(listed.status, 0);
  EXPECT_THAT(listed.out, Not(HasSubstr("  /dev/null\n")));
  EXPECT_THAT(listed.out, HasSubstr("Serial port chosen: (none; \"/dev/null\""));
}

TEST_F(CliTest, DevicesShowsTheStoredModuleAndFailsWhenItCannotListen) {
  // A free UDP port for the BOOTME listener, found by binding and releasing it.
  std::uint16_t port = 0;
  {
    udp::Socket probe = udp::Socket::create();
    ASSERT_TRUE(probe.bind(udp::Address{udp::any_ip, 0}));
    port = probe.local_address().port;
  }
  environment_ = "DIVIDEZURIRER_TEST_BOOTME_PORT=" + std::to_string(port) + " ";
  store_settings("\"LastSelectedDevice\" = \"PXA-OLD\"\n", "\\\\Ethernet");
  Outcome listed = dz({"devices", "--listen", "0.2"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_THAT(listed.out,
              HasSubstr("Selected module: PXA-OLD (has not announced itself in this run)\n"));
  // Changing an option keeps the selection that did not announce itself.
  EXPECT_EQ(dz({"devices", "--listen", "0", "--fast", "on"}).status, 0);
  EXPECT_THAT(slurp(settings_), HasSubstr("PXA-OLD"));

  udp::Socket taken = udp::Socket::create();
  ASSERT_TRUE(taken.bind(udp::Address{udp::any_ip, port}));
  Outcome blocked = dz_fails({"devices", "--listen", "0.5"}, 1, "Couldn't bind bootme socket");
  EXPECT_THAT(blocked.err, HasSubstr("devices: cannot listen for BOOTME announcements"));
}

TEST_F(CliTest, TheBadBlockTableQuestionKeepsTheFactoryMarksWhenNobodyAnswers) {
  std::mt19937 rng(3);
  const std::string image = write_file(
      "eboot.bin", make_image(0x80000000, 0x1000, {{0x80000000, random_bytes(rng, 0x1000)}}));
  Outcome run = dz({"--target", "sim:pxa300-nand-small,bad=3", "bootloader", image});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("Warning: BadBlock Table missing or corrupt."));
  EXPECT_THAT(run.err, HasSubstr("answered Yes (not interactive; the answer that loses nothing"));
  // Yes builds the table from the factory marks; No would have dropped block 3's mark.
  EXPECT_THAT(run.out, HasSubstr("INFO: Found BAD Block(3) in the Data Area\n"));
}

TEST_F(CliTest, ASecondCtrlCStillWritesTheSimulatedFlashFile) {
  std::mt19937 rng(11);
  const auto small = random_bytes(rng, 0x800);
  const std::string first =
      write_file("first.bin", make_image(0x80000000, 0x800, {{0x80000000, small}}));
  const std::string large = write_file(
      "large.bin", make_image(0x80000000, 0x40000, {{0x80000000, random_bytes(rng, 0x40000)}}));
  const std::string flash = (dir_ / "j3.flash").string();
  const std::string target = "sim:pxa270-j3x16,flash=" + flash;
  ASSERT_EQ(dz({"--target", target, "bootloader", first}).status, 0);
  ASSERT_EQ(read_bytes(flash, 0, small.size()), std::string(small.begin(), small.end()));

  // The second download has erased the flash by the time it shows "Total Download:"; two Ctrl-C
  // then end the run, and the flash file must show what the simulated chip holds.
  const std::string out = (dir_ / "out.txt").string();
  std::string line =
      "cd " + quote(dir_.string()) + " || exit 1; DIVIDEZURIRER_SETTINGS=" + quote(settings_) +
      " " + quote(std::string(DZ_BINARY_DIR) + "/app/programs/dividezurirer") + " --target " +
      quote(target) + " bootloader " + quote(large) + " >" + quote(out) +
      " 2>err.txt </dev/null & pid=$!; n=0; "
      "while ! grep -q 'Total Download:' " +
      quote(out) +
      " && [ $n -lt 1200 ]; do sleep 0.05; n=$((n+1)); done; "
      "kill -INT $pid; sleep 0.02; kill -INT $pid; wait $pid; echo $? >status.txt";
  ASSERT_EQ(std::system(line.c_str()), 0);
  // 130 when the second Ctrl-C came while the download ran (the usual case); 3 when a slow
  // machine finished aborting first.
  const int status = std::atoi(slurp(dir_ / "status.txt").c_str());
  EXPECT_TRUE(status == 130 || status == 3) << status << slurp(out);
  EXPECT_NE(read_bytes(flash, 0, small.size()), std::string(small.begin(), small.end()));
}

// A settings path that cannot be created: every command that changes settings says so and fails.
TEST_F(CliTest, CommandsThatChangeSettingsFailWhenTheyCannotBeSaved) {
  std::ofstream(dir_ / "plain-file") << "not a folder";
  settings_ = (dir_ / "plain-file" / "settings.toml").string();  // cannot be created
  dz_fails({"options", "--fix-ip", "10.0.0.3"}, 1,
           "The settings could not be saved: the change is lost.");
  EXPECT_EQ(dz({"jtag", "--adapter", "wiggler"}).status, 1);
  EXPECT_EQ(dz({"devices", "--listen", "0", "--fast", "on"}).status, 1);
}

}  // namespace
}  // namespace dz::testing

namespace dz::testing {
namespace {

// The production test as a new user tries it: small images made with cebin, "-test" with the
// fields, the log file named from them; "bbt" prints the table built from the factory marks.
TEST_F(CliTest, ProductionTestOnASimulatedRig) {
  ASSERT_EQ(cebin({"sample", (dir_ / "eboot.bin").string(), "--start", "0x80000000", "--length",
                   "0x3000", "--records", "2"})
                .status,
            0);
  ASSERT_EQ(cebin({"sample", (dir_ / "nk.bin").string(), "--start", "0x80200000", "--length",
                   "0x8000", "--records", "3"})
                .status,
            0);
  Outcome run =
      dz({"--target", "sim:production-pxa270", "-test", "--fields", "L1", "A2", "3", "V4"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("log L1-A2-3-V4.log from /dev/"));
  EXPECT_THAT(run.err, HasSubstr("Test Results: Test Successful"));
  const std::string log = slurp(dir_ / "L1-A2-3-V4.log");
  EXPECT_THAT(log, HasSubstr("Jumping to image"));
  EXPECT_TRUE(log.ends_with("\r\nOK"));

  run = dz({"--target", "sim:production-pxa270,ok=newline", "test"});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("Test Results: Test Failed"));
  EXPECT_TRUE(slurp(dir_ / "RSDA1-A001-0-V000001.log").ends_with("OK\r\n"));

  run = dz({"--target", "sim:production-pxa320,bad=5:9", "bbt"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("2 Bad Blocks\n0x0005 -> 0x03ff\n0x0009 -> 0x03fe\n"));
}

}  // namespace
}  // namespace dz::testing
