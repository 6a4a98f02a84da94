// The doctor's checks against real files in a scratch root: device nodes are stood in for by
// files with the owners and modes a system gives them (stat sees the same bits), the password
// and group files, the udev rules, sysfs entries of a plugged adapter, and the port sysctl.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/cli/doctor.h"

namespace fs = std::filesystem;
using dz::cli::doctor::Context;
using dz::cli::doctor::Finding;

namespace {

class Doctor : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/dz-doctor-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    // Files made by root belong to group 0, which grants nothing; give them a group of their own.
    device_gid_ = ::geteuid() == 0 ? 4242u : static_cast<unsigned>(::getgid());
    other_uid_ = static_cast<unsigned>(::geteuid()) + 1000;
    write("/etc/passwd", "root:x:0:0::/root:/bin/sh\nalice:x:" + std::to_string(other_uid_) + ":" +
                             std::to_string(other_uid_) + "::/home/alice:/bin/sh\n");
    groups("");
    context_.root = root_;
    context_.who = alice({});
    context_.program = "/usr/bin/dividezurirer";
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(root_ + path).parent_path());
    std::ofstream(root_ + path) << text;
  }
  // The group file: the device group is named dialout here (and lp for the parallel port test),
  // with the given members.
  void groups(const std::string& members, const std::string& name = "dialout") {
    write("/etc/group", "root:x:0:\n" + name + ":x:" + std::to_string(device_gid_) + ":" + members +
                            "\nplugdev:x:4343:" + members + "\n");
  }
  // A stand-in for a device node with the system's owner and mode.
  void node(const std::string& path, unsigned mode, bool own_group = true) {
    write(path, "");
    if (own_group) {
      ASSERT_EQ(::chown((root_ + path).c_str(), -1, device_gid_), 0);
    }
    ASSERT_EQ(::chmod((root_ + path).c_str(), mode), 0);
  }
  dz::host::Identity alice(std::vector<unsigned> gids) {
    dz::host::Identity who;
    who.uid = other_uid_;
    who.name = "alice";
    who.gids = {other_uid_};
    who.gids.insert(who.gids.end(), gids.begin(), gids.end());
    return who;
  }
  static bool has_fix(const Finding& finding, const std::string& text) {
    for (const auto& fix : finding.fixes)
      if (fix.find(text) != std::string::npos) return true;
    return false;
  }

  std::string root_;
  unsigned device_gid_ = 0;
  unsigned other_uid_ = 0;
  Context context_;
};

TEST_F(Doctor, ParallelPortNeedsPpdevThenTheGroupOfItsNode) {
  Finding finding = dz::cli::doctor::check_parallel_port(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo modprobe ppdev")) << finding.fixes.front();

  fs::create_directories(root_ + "/sys/module/ppdev");
  finding = dz::cli::doctor::check_parallel_port(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo modprobe parport_pc"));

  groups("", "lp");
  node("/dev/parport0", 0660);
  finding = dz::cli::doctor::check_parallel_port(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo usermod -aG lp alice"));

  context_.who = alice({device_gid_});
  finding = dz::cli::doctor::check_parallel_port(context_);
  EXPECT_TRUE(finding.ok);
  EXPECT_TRUE(finding.fixes.empty());

  // A member whose group membership is newer than the session: logging in again is the fix.
  groups("alice", "lp");
  context_.who = alice({});
  finding = dz::cli::doctor::check_parallel_port(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "log out and in again (or run: newgrp lp)"));
  // For the user's next login (--user) the listed group counts.
  context_.who = *dz::cli::doctor::identity_of_user(root_, "alice");
  context_.current_session = false;
  EXPECT_TRUE(dz::cli::doctor::check_parallel_port(context_).ok);
}

TEST_F(Doctor, SerialPortsAreJudgedByOwnerGroupAndOtherBits) {
  Finding finding = dz::cli::doctor::check_serial_ports(context_);
  EXPECT_FALSE(finding.ok);  // no ports at all

  node("/dev/ttyS0", 0660);
  node("/dev/ttyUSB0", 0660);
  write("/dev/ttySomething", "");  // not a port name
  finding = dz::cli::doctor::check_serial_ports(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo usermod -aG dialout alice"));
  ASSERT_EQ(finding.details.size(), 1u);
  EXPECT_NE(finding.details[0].find("/dev/ttyS0 ("), std::string::npos);
  EXPECT_EQ(finding.details[0].find("ttySomething"), std::string::npos);

  context_.who = alice({device_gid_});
  EXPECT_TRUE(dz::cli::doctor::check_serial_ports(context_).ok);

  // A node whose group may not write: membership does not help, the node's mode must change.
  node("/dev/ttyS0", 0640);
  finding = dz::cli::doctor::check_serial_ports(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo chgrp dialout /dev/ttyS0 && sudo chmod 0660 /dev/ttyS0"));
  EXPECT_FALSE(has_fix(finding, "usermod"));  // alice is in dialout already

  // Others' bits serve a user in no group; root is never refused.
  node("/dev/ttyS0", 0666);
  context_.who = alice({});
  node("/dev/ttyUSB0", 0666);
  EXPECT_TRUE(dz::cli::doctor::check_serial_ports(context_).ok);
  node("/dev/ttyUSB0", 0600);
  EXPECT_FALSE(dz::cli::doctor::check_serial_ports(context_).ok);
  context_.who.uid = 0;
  EXPECT_TRUE(dz::cli::doctor::check_serial_ports(context_).ok);
}

TEST_F(Doctor, UsbAdaptersNeedTheRuleItsGroupAndAUsableNode) {
  Finding finding = dz::cli::doctor::check_usb_adapters(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "install the dividezurirer package"));

  // Installed under a prefix that udev does not read: copy it where udev looks.
  const std::string copy = root_ + "/usr/local/lib/udev/rules.d/60-dividezurirer.rules";
  const std::string rule =
      "# FTDI JTAG adapters\n"
      "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6010\", "
      "MODE=\"0660\", GROUP=\"plugdev\", TAG+=\"uaccess\"\n";
  write("/usr/local/lib/udev/rules.d/60-dividezurirer.rules", rule);
  context_.rules_file = copy;
  finding = dz::cli::doctor::check_usb_adapters(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo install -m 0644 " + copy + " /etc/udev/rules.d/"));

  write("/usr/lib/udev/rules.d/60-dividezurirer.rules", rule);
  finding = dz::cli::doctor::check_usb_adapters(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo usermod -aG plugdev alice"));

  context_.who = alice({4343});
  EXPECT_TRUE(dz::cli::doctor::check_usb_adapters(context_).ok);

  // A plugged adapter named by the rule, whose node udev has not given to the group yet.
  write("/sys/bus/usb/devices/1-1/idVendor", "0403\n");
  write("/sys/bus/usb/devices/1-1/idProduct", "6010\n");
  write("/sys/bus/usb/devices/1-1/busnum", "1\n");
  write("/sys/bus/usb/devices/1-1/devnum", "4\n");
  write("/sys/bus/usb/devices/1-2/idVendor", "1d6b\n");  // a hub the rule does not name
  write("/sys/bus/usb/devices/1-2/idProduct", "0002\n");
  write("/sys/bus/usb/devices/1-2/busnum", "1\n");
  write("/sys/bus/usb/devices/1-2/devnum", "1\n");
  node("/dev/bus/usb/001/004", 0600);
  node("/dev/bus/usb/001/001", 0600);
  finding = dz::cli::doctor::check_usb_adapters(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo udevadm trigger --subsystem-match=usb"));
  ASSERT_EQ(::chown((root_ + "/dev/bus/usb/001/004").c_str(), -1, ::geteuid() == 0 ? 4343 : -1), 0);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chmod((root_ + "/dev/bus/usb/001/004").c_str(), 0660), 0);
    finding = dz::cli::doctor::check_usb_adapters(context_);
    EXPECT_TRUE(finding.ok);
    EXPECT_NE(finding.details.back().find("0403:6010 at /dev/bus/usb/001/004 is usable"),
              std::string::npos);
  }
}

TEST_F(Doctor, BootmePortNeedsRootTheCapabilityOrALowerUnprivilegedStart) {
  write("/proc/sys/net/ipv4/ip_unprivileged_port_start", "1024\n");
  Finding finding = dz::cli::doctor::check_bootme_port(context_);
  EXPECT_FALSE(finding.ok);
  EXPECT_TRUE(has_fix(finding, "sudo setcap cap_net_bind_service=+ep /usr/bin/dividezurirer"));
  EXPECT_TRUE(has_fix(finding, "sudo sysctl -w net.ipv4.ip_unprivileged_port_start=980"));

  write("/proc/sys/net/ipv4/ip_unprivileged_port_start", "980\n");
  EXPECT_TRUE(dz::cli::doctor::check_bootme_port(context_).ok);
  write("/proc/sys/net/ipv4/ip_unprivileged_port_start", "981\n");
  EXPECT_FALSE(dz::cli::doctor::check_bootme_port(context_).ok);
  context_.who.can_bind_low_ports = true;
  EXPECT_TRUE(dz::cli::doctor::check_bootme_port(context_).ok);
  context_.who = alice({});
  context_.who.uid = 0;
  EXPECT_TRUE(dz::cli::doctor::check_bootme_port(context_).ok);
}

TEST_F(Doctor, UsersAreReadFromThePasswordAndGroupFiles) {
  groups("bob,alice");
  const auto who = dz::cli::doctor::identity_of_user(root_, "alice");
  ASSERT_TRUE(who.has_value());
  EXPECT_EQ(who->uid, other_uid_);
  EXPECT_EQ(who->gids, (std::vector<unsigned>{other_uid_, device_gid_, 4343u}));
  EXPECT_FALSE(dz::cli::doctor::identity_of_user(root_, "nobody-here").has_value());
  // Broken lines are skipped, not trusted.
  write("/etc/passwd", "alice:x:notanumber:1::/:/bin/sh\nalice\n::::\n");
  EXPECT_FALSE(dz::cli::doctor::identity_of_user(root_, "alice").has_value());
}

TEST_F(Doctor, FileCapabilityIsReadFromTheProgramFile) {
  const std::string program = root_ + "/program";
  write("/program", "");
  EXPECT_FALSE(dz::host::file_has_bind_capability(program));
  if (::geteuid() != 0 || std::system("command -v setcap >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "setting a file capability needs root and setcap";
  ASSERT_EQ(std::system(("setcap cap_net_raw=+ep " + program).c_str()), 0);
  EXPECT_FALSE(dz::host::file_has_bind_capability(program));
  ASSERT_EQ(std::system(("setcap cap_net_bind_service=+p " + program).c_str()), 0);
  EXPECT_FALSE(dz::host::file_has_bind_capability(program));  // permitted, not effective
  ASSERT_EQ(std::system(("setcap cap_net_bind_service=+ep " + program).c_str()), 0);
  EXPECT_TRUE(dz::host::file_has_bind_capability(program));
}

}  // namespace
