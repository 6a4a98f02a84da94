// The 'options' command: the Bootloader Options and Image Options dialogs.
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>

#include "app/cli/commands.h"
#include "app/cli/script.h"
#include "image/bin_image.h"
#include "resources/resource.h"

namespace dz::cli {

namespace {

struct OptionsRequest {
  std::string fix_ip;  // dotted address: turn the option on with it
  std::string subnet;
  bool no_fix_ip = false;
  bool fast_boot = false;
  bool no_fast_boot = false;
  std::string rom_offset;
  bool no_rom_offset = false;

  bool changes_bootloader() const {
    return !fix_ip.empty() || !subnet.empty() || no_fix_ip || fast_boot || no_fast_boot;
  }
  bool changes_image() const { return !rom_offset.empty() || no_rom_offset; }
};

bool parse_ip(const std::string& text, std::uint32_t& address) {
  unsigned a, b, c, d;
  char tail;
  if (std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  address = (a << 24) | (b << 16) | (c << 8) | d;
  return true;
}

std::string ip_text(std::uint32_t address) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

const char* on_off(bool value) {
  return value ? "on" : "off";
}

int bootloader_options(ui::Window main, const OptionsRequest& request) {
  ui::Window dlg = open_dialog(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
  if (dlg == ui::no_window) {
    warn("The Bootloader Options dialog did not open.");
    return exit_failure;
  }
  if (!request.fix_ip.empty()) {
    click_check(dlg, IDC_FIX_IP, true);
    std::uint32_t address = 0;
    parse_ip(request.fix_ip, address);
    ui::set_ip(dlg, IDC_FIX_IP_ADDRESS, address);
  }
  if (!request.subnet.empty()) {
    // The mask field can be used only while "Program Fix IP and SubnetMask" is on.
    if (!ui::is_checked(dlg, IDC_FIX_IP)) {
      warn("--subnet: \"Program Fix IP and SubnetMask\" is off; give --fix-ip ADDRESS as well.");
      press(dlg, ui::IDCANCEL);
      wait_closed(dlg);
      return exit_usage;
    }
    std::uint32_t address = 0;
    parse_ip(request.subnet, address);
    ui::set_ip(dlg, IDC_FIX_SUBNET, address);
  }
  if (request.no_fix_ip) click_check(dlg, IDC_FIX_IP, false);
  if (request.fast_boot || request.no_fast_boot) click_check(dlg, IDC_FAST_BOOT, request.fast_boot);

  say("Bootloader Options");
  say(std::string("  Program Fix IP and SubnetMask:          ") +
      on_off(ui::is_checked(dlg, IDC_FIX_IP)));
  say("  IP Address:                             " + ip_text(ui::ip(dlg, IDC_FIX_IP_ADDRESS)));
  say("  Subnet Mask:                            " + ip_text(ui::ip(dlg, IDC_FIX_SUBNET)));
  say(std::string("  Fast Boot (No Image Download Possible): ") +
      on_off(ui::is_checked(dlg, IDC_FAST_BOOT)));
  press(dlg, request.changes_bootloader() ? ui::IDOK : ui::IDCANCEL);
  return wait_closed(dlg) ? exit_success : exit_failure;
}

int image_options(ui::Window main, const OptionsRequest& request) {
  ui::Window dlg = open_dialog(main, IDC_IMAGE_OPTIONS, IDD_IMAGE_OPTIONS);
  if (dlg == ui::no_window) {
    warn("The Image Options dialog did not open.");
    return exit_failure;
  }
  if (!request.rom_offset.empty()) {
    click_check(dlg, IDC_ROM_OFFSET_ENABLE, true);
    char text[16];
    std::snprintf(text, sizeof text, "0x%.8x",
                  static_cast<unsigned>(parse_hex(request.rom_offset)));
    ui::set_text(dlg, IDC_ROM_OFFSET, text);
  }
  if (request.no_rom_offset) click_check(dlg, IDC_ROM_OFFSET_ENABLE, false);

  say("Image Options");
  say(std::string("  Offset IMAGE:                           ") +
      on_off(ui::is_checked(dlg, IDC_ROM_OFFSET_ENABLE)));
  say("  Offset:                                 " + ui::text(dlg, IDC_ROM_OFFSET));
  press(dlg, request.changes_image() ? ui::IDOK : ui::IDCANCEL);
  return wait_closed(dlg) ? exit_success : exit_failure;
}

std::string check_ip(const std::string& text) {
  std::uint32_t address;
  return parse_ip(text, address) ? std::string() : "expected an address such as 192.168.0.1";
}

std::string check_hex(const std::string& text) {
  std::size_t i = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? 2 : 0;
  if (text.size() == i || text.size() - i > 8) return "expected up to 8 hexadecimal digits";
  for (; i < text.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i])))
      return "expected up to 8 hexadecimal digits";
  return {};
}

}  // namespace

void add_options_command(CLI::App& app, Globals& globals) {
  static OptionsRequest request;
  auto* cmd = app.add_subcommand(
      "options", "Show or change the Bootloader Options and Image Options (kept in the settings)");
  auto* fix = cmd->add_option("--fix-ip", request.fix_ip,
                              "Program this fixed IP address into the bootloader")
                  ->check(check_ip);
  auto* subnet = cmd->add_option("--subnet", request.subnet,
                                 "Subnet mask to program (with --fix-ip, or alone while Fix IP is "
                                 "on)")
                     ->check(check_ip);
  cmd->add_flag("--no-fix-ip", request.no_fix_ip, "Do not program a fixed IP address")
      ->excludes(fix)
      ->excludes(subnet);
  auto* fast =
      cmd->add_flag("--fast-boot", request.fast_boot, "Fast Boot (No Image Download Possible)");
  cmd->add_flag("--no-fast-boot", request.no_fast_boot, "No fast boot")->excludes(fast);
  auto* offset = cmd->add_option("--rom-offset", request.rom_offset,
                                 "Add this offset to image addresses (\"Offset IMAGE\")")
                     ->check(check_hex);
  cmd->add_flag("--no-rom-offset", request.no_rom_offset, "Write image records at their addresses")
      ->excludes(offset);
  cmd->footer(
      "Without options the current values are shown and nothing changes.\n"
      "Examples:\n"
      "  dividezurirer options\n"
      "  dividezurirer options --fix-ip 192.168.1.50 --subnet 255.255.255.0\n"
      "  dividezurirer options --subnet 255.255.0.0\n"
      "  dividezurirer options --no-fix-ip --fast-boot\n"
      "  dividezurirer options --rom-offset 0xf2020000\n"
      "  dividezurirer options --no-rom-offset\n"
      "Exit status: 0 success, 1 failure (also when the settings could not be saved), 2 usage.");
  cmd->callback([&globals] {
    globals.exit_status = settings_saved_status(run_with_main_window(globals, [](ui::Window main) {
      int status = bootloader_options(main, request);
      if (status != exit_success) return status;
      return image_options(main, request);
    }));
  });
}

}  // namespace dz::cli
