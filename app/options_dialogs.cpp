// Bootloader and image options: dialogs and settings values.
#include "app/options_dialogs.h"

#include <cstdio>

#include "download/options.h"
#include "image/bin_image.h"
#include "resources/resource.h"

namespace dz {

namespace {

// A value that cannot be read loads as its default, also when a main window opened earlier in
// this process had loaded another one.
void load_dword(settings::Key& key, const char* name, std::atomic<std::uint32_t>& value,
                std::uint32_t fallback) {
  std::uint32_t read = 0;
  value = key.read_dword(name, read) ? read : fallback;
}

void load_flag(settings::Key& key, const char* name, std::atomic<int>& value) {
  std::uint32_t read = 0;
  value = key.read_dword(name, read) ? static_cast<int>(read) : 0;
}

void enable_ip_fields(ui::Window dlg, bool enabled) {
  ui::enable(dlg, IDC_FIX_IP_ADDRESS, enabled);
  ui::enable(dlg, IDC_FIX_SUBNET, enabled);
}

std::string hex_text(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%.8x", static_cast<unsigned>(value));
  return text;
}

}  // namespace

void load_bootloader_options(settings::Key& key) {
  load_flag(key, "BootloaderFixIP", fix_ip);
  load_dword(key, "BootloaderIP", fixed_ip, default_fixed_ip);
  load_dword(key, "BootloaderSubnet", fixed_subnet, default_fixed_subnet);
  load_flag(key, "BootloaderFastBoot", fast_boot);
}

bool save_bootloader_options(settings::Key& key) {
  return key.write_dword("BootloaderFixIP", static_cast<std::uint32_t>(fix_ip.load())) &&
         key.write_dword("BootloaderIP", fixed_ip.load()) &&
         key.write_dword("BootloaderSubnet", fixed_subnet.load()) &&
         key.write_dword("BootloaderFastBoot", static_cast<std::uint32_t>(fast_boot.load()));
}

void load_image_options(settings::Key& key) {
  load_flag(key, "ImageROMOffsetEnable", rom_offset_enable);
  load_dword(key, "ImageROMOffset", rom_offset, default_rom_offset);
}

bool save_image_options(settings::Key& key) {
  return key.write_dword("ImageROMOffsetEnable",
                         static_cast<std::uint32_t>(rom_offset_enable.load())) &&
         key.write_dword("ImageROMOffset", rom_offset.load());
}

ui::DialogProc bootloader_options_proc() {
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) {
    ui::check(dlg, IDC_FIX_IP, fix_ip != 0);
    ui::set_ip(dlg, IDC_FIX_IP_ADDRESS, fixed_ip);
    ui::set_ip(dlg, IDC_FIX_SUBNET, fixed_subnet);
    if (fix_ip == 0) enable_ip_fields(dlg, false);
    ui::check(dlg, IDC_FAST_BOOT, fast_boot != 0);
  };
  proc.command = [](ui::Window dlg, const ui::Command& command) {
    switch (command.id) {
      case IDC_FIX_IP:
        enable_ip_fields(dlg, ui::is_checked(dlg, IDC_FIX_IP));
        break;
      case ui::IDOK:
        fix_ip = ui::is_checked(dlg, IDC_FIX_IP) ? 1 : 0;
        fixed_ip = ui::ip(dlg, IDC_FIX_IP_ADDRESS);
        fixed_subnet = ui::ip(dlg, IDC_FIX_SUBNET);
        fast_boot = ui::is_checked(dlg, IDC_FAST_BOOT) ? 1 : 0;
        ui::end_dialog(dlg, ui::IDOK);
        break;
      case ui::IDCANCEL:
        ui::end_dialog(dlg, ui::IDCANCEL);
        break;
      default:
        break;
    }
  };
  return proc;
}

ui::DialogProc image_options_proc() {
  ui::DialogProc proc;
  proc.init = [](ui::Window dlg, std::intptr_t) {
    ui::check(dlg, IDC_ROM_OFFSET_ENABLE, rom_offset_enable != 0);
    ui::set_text(dlg, IDC_ROM_OFFSET, hex_text(rom_offset));
    if (rom_offset_enable == 0) ui::enable(dlg, IDC_ROM_OFFSET, false);
  };
  proc.command = [](ui::Window dlg, const ui::Command& command) {
    switch (command.id) {
      case IDC_ROM_OFFSET_ENABLE:
        ui::enable(dlg, IDC_ROM_OFFSET, ui::is_checked(dlg, IDC_ROM_OFFSET_ENABLE));
        break;
      case ui::IDOK: {
        rom_offset_enable = ui::is_checked(dlg, IDC_ROM_OFFSET_ENABLE) ? 1 : 0;
        std::string text = ui::text(dlg, IDC_ROM_OFFSET);
        if (text.size() > 255) text.resize(255);  // the 256-character field
        rom_offset = parse_hex(text);
        ui::end_dialog(dlg, ui::IDOK);
        break;
      }
      case ui::IDCANCEL:
        ui::end_dialog(dlg, ui::IDCANCEL);
        break;
      default:
        break;
    }
  };
  return proc;
}

std::intptr_t run_bootloader_options(ui::Window owner) {
  return ui::run_dialog(IDD_BOOTLOADER_OPTIONS, owner, bootloader_options_proc());
}

std::intptr_t run_image_options(ui::Window owner) {
  return ui::run_dialog(IDD_IMAGE_OPTIONS, owner, image_options_proc());
}

}  // namespace dz
