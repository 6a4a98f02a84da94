// The 'bootloader' and 'image' commands: "Download Bootloader..." and "Download Image..." of the
// main window, pressed by a scripted user.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/cli/commands.h"
#include "app/cli/script.h"
#include "app/main_window.h"
#include "download/interface.h"
#include "image/bin_image.h"
#include "platform/ui_headless.h"
#include "resources/resource.h"
#include "sim/targets.h"

namespace dz::cli {

namespace {

constexpr std::size_t longest_path = 259;

struct DownloadRequest {
  bool bootloader = false;
  std::string file;
  std::string via;  // "jtag", "serial", "ethernet" or "" (as the window has it)
  bool verify = false;
  std::string start;            // raw files: start address in hexadecimal
  unsigned detect_timeout = 0;  // seconds; 0 = wait until the target answers or Ctrl-C
};

struct Half {
  int combo, type, start, length, download;
  const char* button;
};
constexpr Half bootloader_half{IDC_BOOT_FILE,   IDC_BOOT_TYPE,     IDC_BOOT_START,
                               IDC_BOOT_LENGTH, IDC_BOOT_DOWNLOAD, "Download Bootloader..."};
constexpr Half image_half{IDC_IMAGE_FILE,   IDC_IMAGE_TYPE,     IDC_IMAGE_START,
                          IDC_IMAGE_LENGTH, IDC_IMAGE_DOWNLOAD, "Download Image..."};

bool valid_hex(const std::string& text) {
  std::size_t i = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 2 : 0;
  std::size_t digits = text.size() - i;
  if (digits == 0 || digits > 8) return false;
  for (; i < text.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

int radio_of(const std::string& via) {
  if (via == "jtag") return IDC_IMAGE_JTAG;
  if (via == "serial") return IDC_IMAGE_SERIAL;
  return IDC_IMAGE_ETHERNET;
}

// The interface a simulated target is reached by, if one was chosen.
std::string target_interface(const Globals& globals) {
  if (globals.target.rfind("sim:", 0) != 0) return {};
  std::string name = globals.target.substr(4, globals.target.find(',') - 4);
  const sim::TargetModel* model = sim::find_target_model(name);
  return model != nullptr ? model->interface : std::string();
}

// Waits for the job to end; aborts a detection that outlasts the time-out.
bool wait_for_job(unsigned detect_timeout) {
  using namespace std::chrono;
  auto started = steady_clock::now();
  bool timed_out = false;
  while (last_job_result() < 0) {
    std::this_thread::sleep_for(milliseconds(20));
    if (detect_timeout == 0 || timed_out) continue;
    ui::Window detection = ui::headless::find_dialog(IDD_DETECTION);
    if (detection != ui::no_window && steady_clock::now() - started > seconds(detect_timeout)) {
      timed_out = true;
      ui::post_command(detection, command_of(ui::IDCANCEL));
    }
    if (ui::headless::find_dialog(IDD_DOWNLOAD) != ui::no_window) detect_timeout = 0;
  }
  return !timed_out;
}

int download(ui::Window main, const Globals& globals, const DownloadRequest& request) {
  const Half& half = request.bootloader ? bootloader_half : image_half;
  if (!request.file.empty()) {
    if (request.file.size() > longest_path) {
      warn("The file name is longer than " + std::to_string(longest_path) + " characters.");
      return exit_usage;
    }
    type_text(main, half.combo, request.file, true);
  }
  const std::string file = ui::text(main, half.combo);
  if (!ui::is_enabled(main, half.download)) {
    warn("Cannot open '" + file + "'.");
    return exit_failure;
  }
  const std::string type = ui::text(main, half.type);
  if (!request.start.empty()) {
    if (type == "WinCE") {
      warn("--start is for raw files; '" + file +
           "' is a Windows CE image and carries its own start address.");
      return exit_usage;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%.8x", static_cast<unsigned>(parse_hex(request.start)));
    type_text(main, half.start, text);
  }
  ui::check(main, IDC_VERIFY, request.verify);

  std::string via = request.via.empty() ? target_interface(globals) : request.via;
  if (!request.bootloader && !via.empty())
    click_radio(main, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, radio_of(via));
  std::string interface_name = "JTag Interface";
  if (!request.bootloader) {
    if (ui::is_checked(main, IDC_IMAGE_SERIAL)) interface_name = "Serial Interface";
    if (ui::is_checked(main, IDC_IMAGE_ETHERNET)) interface_name = "Ethernet Interface";
  }
  say(std::string(half.button) + " " + file + " (" + type + ", start " +
      ui::text(main, half.start) + ", length " + ui::text(main, half.length) + ") over " +
      interface_name + (request.verify ? ", verified" : ""));

  ui::post_command(main, command_of(half.download, ui::BN_CLICKED));
  bool answered = wait_for_job(request.detect_timeout);
  sync(main);
  const int result = last_job_result();
  if (interrupts() > 0) {
    warn("Download aborted.");
    return exit_aborted;
  }
  if (!answered) {
    warn("No answer from the target within " + std::to_string(request.detect_timeout) + " s.");
    return exit_failure;
  }
  if (result == 1 && abort_flag == 0) {
    say("Download finished.");
    return exit_success;
  }
  warn("Download failed.");
  return exit_failure;
}

void add_download_command(CLI::App& app, Globals& globals, bool bootloader) {
  static DownloadRequest requests[2];
  DownloadRequest& request = requests[bootloader ? 0 : 1];
  request.bootloader = bootloader;
  CLI::App* cmd;
  if (bootloader) {
    cmd = app.add_subcommand("bootloader",
                             "Download a bootloader over JTAG (\"Download Bootloader...\")");
    cmd->add_option("FILE", request.file,
                    "Bootloader file (default: the most recent one, else eboot.bin)");
  } else {
    cmd = app.add_subcommand("image", "Download an OS image (\"Download Image...\")");
    cmd->add_option("FILE", request.file, "Image file (default: the most recent one, else nk.bin)");
    cmd->add_option("--via", request.via,
                    "Download interface (default: the simulated target's, else Ethernet)")
        ->check(CLI::IsMember({"jtag", "serial", "ethernet"}));
  }
  cmd->add_flag("--verify", request.verify, "Read every piece back after writing it (JTAG)");
  cmd->add_option("--start", request.start, "Start address of a raw file (default 0x80000000)")
      ->check([](const std::string& text) {
        return valid_hex(text) ? std::string() : "expected up to 8 hexadecimal digits";
      });
  cmd->add_option("--detect-timeout", request.detect_timeout,
                  "Give up when the target has not answered within SECONDS (default: wait)");
  if (bootloader)
    cmd->footer(
        "Examples:\n"
        "  dividezurirer bootloader eboot.bin --verify\n"
        "  dividezurirer --target sim:MODEL bootloader eboot.bin\n"
        "  dividezurirer bootloader loader.raw --start 0x80000000\n"
        "Exit status: 0 success, 1 failure, 3 aborted (Ctrl-C), 2 usage.");
  else
    cmd->footer(
        "Examples:\n"
        "  dividezurirer image nk.bin --via ethernet\n"
        "  dividezurirer image nk.bin --via serial --detect-timeout 30\n"
        "  dividezurirer image nk.bin --via jtag --verify\n"
        "Exit status: 0 success, 1 failure, 3 aborted (Ctrl-C), 2 usage.");
  cmd->callback([&globals, &request] {
    globals.exit_status = run_with_main_window(
        globals, [&](ui::Window main) { return download(main, globals, request); });
  });
}

}  // namespace

void add_bootloader_command(CLI::App& app, Globals& globals) {
  add_download_command(app, globals, true);
}

void add_image_command(CLI::App& app, Globals& globals) {
  add_download_command(app, globals, false);
}

}  // namespace dz::cli
