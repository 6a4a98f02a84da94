// The 'bootloader' and 'image' commands: "Download Bootloader..." and "Download Image..." of the
// main window, pressed by a scripted user.
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/cli/commands.h"
#include "app/cli/image_check.h"
#include "app/cli/script.h"
#include "app/main_window.h"
#include "download/interface.h"
#include "download/options.h"
#include "image/bin_image.h"
#include "platform/files.h"
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

// Puts the file to download into the half's combo box: the one given, else the most recent one.
void enter_file(ui::Window main, const Half& half, const DownloadRequest& request) {
  if (!request.file.empty()) {
    type_text(main, half.combo, request.file, true);
  } else if (ui::combo_count(main, half.combo) > 0) {
    // As a person would: open the drop-down and pick its top entry, the most recent file.
    ui::combo_select(main, half.combo, 0);
    ui::send_command(main, command_of(half.combo, ui::CBN_SELCHANGE));
    say(std::string("No file given: taking the most recent ") +
        (request.bootloader ? "bootloader" : "image") + ", " + ui::text(main, half.combo));
  } else {
    say("No file given and no recent file: taking " + ui::text(main, half.combo));
  }
}

// Checks the file and the start address and enters the start address; the exit status when the
// download must not go ahead.
std::optional<int> check_file_and_start(ui::Window main, const Half& half,
                                        const DownloadRequest& request, const std::string& file,
                                        const std::string& type) {
  if (!ui::is_enabled(main, half.download)) {
    const std::string why = files::not_a_file_reason(file);
    warn("Cannot open '" + file + "'" + (why.empty() ? "" : ": " + why) + ".");
    return exit_failure;
  }
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
  // An image whose records cannot be read is refused before detection, and so before anything
  // on the module is erased.
  if (type == "WinCE") {
    if (const std::string problem = image_problem(file); !problem.empty()) {
      warn("Cannot download '" + file + "': " + problem + ".");
      return exit_failure;
    }
  }
  return std::nullopt;
}

// Picks the download interface in the image half (bootloaders always go over JTAG) and returns
// its record.
const DownloadInterface& choose_interface(ui::Window main, const Globals& globals,
                                          const DownloadRequest& request) {
  std::string via = request.via.empty() ? target_interface(globals) : request.via;
  if (!request.bootloader && !via.empty())
    click_radio(main, IDC_IMAGE_JTAG, IDC_IMAGE_ETHERNET, radio_of(via));
  int index = jtag_interface_index;
  if (!request.bootloader) {
    if (ui::is_checked(main, IDC_IMAGE_SERIAL)) index = serial_interface_index;
    if (ui::is_checked(main, IDC_IMAGE_ETHERNET)) index = ethernet_interface_index;
  }
  return download_interfaces[index];
}

// Says what is about to be downloaded, and which of the asked-for extras will not be done.
void describe_download(ui::Window main, const Half& half, const DownloadRequest& request,
                       const std::string& file, const std::string& type,
                       const DownloadInterface& record) {
  const bool raw = type != "WinCE";
  // Pieces are read back only when a Windows CE image goes section by section (JTAG); a raw file
  // and the serial and Ethernet paths stream the file and cannot be read back.
  const bool verified = request.verify && !raw && record.streams_whole_file == 0;
  say(std::string(half.button) + " " + file + " (" + type + ", start " +
      ui::text(main, half.start) + ", length " + ui::text(main, half.length) + ") over " +
      record.name + (verified ? ", verified" : ""));
  if (request.verify && !verified)
    say(std::string("--verify: not done, ") +
        (raw ? "a raw file is streamed" : std::string(record.name) + " streams the file") +
        " and cannot be read back.");
  if (request.bootloader && fix_ip != 0 && raw)
    say("Program Fix IP and SubnetMask is on, but a raw file is written unchanged: the fixed IP "
        "address is not programmed.");
  if (!request.bootloader && fix_ip != 0)
    say("Program Fix IP and SubnetMask is on; it applies to bootloader downloads only.");
}

// Presses the half's download button, waits for the job and turns its outcome into the exit
// status.
int run_download_job(ui::Window main, const Half& half, const DownloadRequest& request) {
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

int download(ui::Window main, const Globals& globals, const DownloadRequest& request) {
  const Half& half = request.bootloader ? bootloader_half : image_half;
  enter_file(main, half, request);
  const std::string file = ui::text(main, half.combo);
  const std::string type = ui::text(main, half.type);
  if (const std::optional<int> refused = check_file_and_start(main, half, request, file, type))
    return *refused;
  ui::check(main, IDC_VERIFY, request.verify);
  const DownloadInterface& record = choose_interface(main, globals, request);
  describe_download(main, half, request, file, type, record);
  return run_download_job(main, half, request);
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
    if (!request.file.empty()) {
      // The lists remember absolute paths, so that they serve from any folder. Anything but a
      // regular file is refused before the window opens: a FIFO would block, a folder or a device
      // is no image.
      request.file = files::absolute_path(request.file);
      if (request.file.size() > longest_path) {
        warn("The file name is longer than " + std::to_string(longest_path) + " characters.");
        globals.exit_status = exit_usage;
        return;
      }
      const std::string why = files::not_a_file_reason(request.file);
      if (!why.empty()) {
        warn("Cannot open '" + request.file + "': " + why + ".");
        globals.exit_status = exit_failure;
        return;
      }
    }
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
