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

// Notes "op I" and answers success.
int note(const char* op, int index) {
  std::lock_guard guard(shell_recorder().lock);
  shell_recorder().calls.push_back(op + (" " + std::to_string(index)));
  return 1;
}

template <int I>
struct Ops {
  static std::uint32_t detect(ui::Window dlg) {
    note("detect", I);
    ui::Command command;
    command.id = shell_recorder().detect_answers ? ui::IDOK : ui::IDCANCEL;
    ui::send_command(dlg, command);
    return 1;
  }
  static int open(ui::Window) { return note("open", I); }
  static int erase(std::uint32_t, std::uint32_t) { return 1; }
  static int write(std::uint8_t*, std::uint32_t, std::uint32_t) { return note("write", I); }
  static int verify(const std::uint8_t*, std::uint32_t, std::uint32_t) { return 1; }
  static int close() { return note("close", I); }
  static int load() { return note("load", I); }
  static int dialog(ui::Window) { return note("dialog", I); }
  static int save() { return note("save", I); }
};

template <int I>
constexpr DownloadInterface record(const char* name, std::uint32_t streams) {
  DownloadInterface r{};
  for (int i = 0; i < 31 && name[i]; ++i) r.name[i] = name[i];
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

}  // namespace

}  // namespace dz::testing

namespace dz {

// JTAG, serial and Ethernet with every slot; USB empty, as in the program.
const DownloadInterface download_interfaces[interface_count] = {
    testing::record<0>("JTag Interface", 0), testing::record<1>("Serial Interface", 1),
    DownloadInterface{"USB Interface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, 1, nullptr},
    testing::record<3>("Ethernet Interface", 1)};

}  // namespace dz
