// The download_interfaces table of the main-window tests.
#include "tests/app/test_interfaces.h"

#include "download/interface.h"
#include "platform/ui.h"

namespace dz::testing {

ShellRecorder& shell_recorder() {
  static ShellRecorder recorder;
  return recorder;
}

void reset_shell_recorder() {
  std::lock_guard guard(shell_recorder().lock);
  shell_recorder().calls.clear();
  shell_recorder().detect_answers = 1;
}

std::vector<std::string> shell_calls() {
  std::lock_guard guard(shell_recorder().lock);
  return shell_recorder().calls;
}

namespace {

void note(const std::string& call) {
  std::lock_guard guard(shell_recorder().lock);
  shell_recorder().calls.push_back(call);
}

template <int I>
struct Ops {
  static std::uint32_t detect(ui::Window dlg) {
    note("detect " + std::to_string(I));
    ui::Command command;
    command.id = shell_recorder().detect_answers ? ui::IDOK : ui::IDCANCEL;
    ui::send_command(dlg, command);
    return 1;
  }
  static int open(ui::Window) {
    note("open " + std::to_string(I));
    return 1;
  }
  static int erase(std::uint32_t, std::uint32_t) { return 1; }
  static int write(std::uint8_t*, std::uint32_t, std::uint32_t) {
    note("write " + std::to_string(I));
    return 1;
  }
  static int verify(const std::uint8_t*, std::uint32_t, std::uint32_t) { return 1; }
  static int close() {
    note("close " + std::to_string(I));
    return 1;
  }
  static int load() {
    note("load " + std::to_string(I));
    return 1;
  }
  static int dialog(ui::Window) {
    note("dialog " + std::to_string(I));
    return 1;
  }
  static int save() {
    note("save " + std::to_string(I));
    return 1;
  }
};

template <int I>
constexpr DownloadInterface record(const char (&name)[32], std::uint32_t streams) {
  DownloadInterface r{};
  for (int i = 0; i < 32; ++i) r.name[i] = name[i];
  r.detect = Ops<I>::detect;
  r.open = Ops<I>::open;
  r.erase = Ops<I>::erase;
  r.write = Ops<I>::write;
  r.verify = streams ? nullptr : Ops<I>::verify;
  r.close = Ops<I>::close;
  r.load_settings = Ops<I>::load;
  r.settings_dialog = Ops<I>::dialog;
  r.save_settings = Ops<I>::save;
  r.streams_whole_file = streams;
  return r;
}

constexpr char jtag_name[32] = "JTag Interface";
constexpr char serial_name[32] = "Serial Interface";
constexpr char ethernet_name[32] = "Ethernet Interface";

}  // namespace

}  // namespace dz::testing

namespace dz {

// JTAG, serial and Ethernet with every slot; USB empty, as in the program.
const DownloadInterface download_interfaces[interface_count] = {
    testing::record<0>(testing::jtag_name, 0), testing::record<1>(testing::serial_name, 1),
    DownloadInterface{"USB Interface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, 1, nullptr},
    testing::record<3>(testing::ethernet_name, 1)};

}  // namespace dz
