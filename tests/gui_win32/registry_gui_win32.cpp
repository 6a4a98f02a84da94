// The settings in the registry of the Wine prefix as the Windows program leaves them at close and
// reads them at the next start: the registry's own types (RegQueryValueExA), and values of a
// wrong type or size, which must read as missing.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/gui_win32/gui_driver.h"
#include "tests/image/image_builder.h"

namespace dz::testing {
namespace {

const std::string ethernet_path = std::string(key_path) + "\\Ethernet";
const char* const ethernet_key = ethernet_path.c_str();

// A value as the registry holds it.
struct Stored {
  DWORD type = REG_NONE;
  std::string bytes;
};
std::optional<Stored> stored(const char* subkey, const std::string& name) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  char data[1024];
  DWORD size = sizeof data, type = REG_NONE;
  const LONG r =
      RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return std::nullopt;
  return Stored{type, std::string(data, size)};
}

// A REG_SZ value holds the text and its terminator, nothing more.
std::optional<std::string> sz(const char* subkey, const std::string& name) {
  const auto v = stored(subkey, name);
  if (!v || v->type != REG_SZ || v->bytes.empty() || v->bytes.back() != '\0') return std::nullopt;
  return v->bytes.substr(0, v->bytes.size() - 1);
}

void put(const char* subkey, const std::string& name, DWORD type, const std::string& bytes) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, subkey, &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}
void put_sz(const char* subkey, const std::string& name, const std::string& text) {
  put(subkey, name, REG_SZ, std::string(text) + '\0');
}
std::string le32(std::uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return out;
}

// The entry the combo box shows as chosen ("" for none).
std::string combo_choice(ui::Window dlg, int id) {
  const auto index = SendMessageA(item(dlg, id), CB_GETCURSEL, 0, 0);
  if (index < 0) return "";
  return combo_items(dlg, id).at(static_cast<std::size_t>(index));
}

class RegistryGui : public GuiTest {};

// Runs first in this program, while the Ethernet options still hold the defaults a fresh start
// has (a missing "AcceptAll" or "FastDL" leaves the value in memory as it is).
TEST_F(RegistryGui, ValuesOfTheWrongTypeOrSizeReadAsMissing) {
  // Each one would read as a plausible setting if its bytes were taken as they are.
  put(key_path, "JTAGInterface", REG_BINARY, le32(2));                        // Wiggler
  put(key_path, "JTAGSpeed", REG_DWORD, std::string("\x10\x27", 2));          // 2 bytes
  put(key_path, "JTAGFastProgramming", REG_SZ, std::string("1\0", 2));        // a text
  put(key_path, "BootloaderFixIP", REG_BINARY, le32(1));                      //
  put(key_path, "BootloaderIP", REG_SZ, std::string("1\0", 2));               //
  put(key_path, "BootloaderSubnet", REG_DWORD_BIG_ENDIAN, le32(0x0000FFFF));  //
  put(key_path, "BootloaderFastBoot", REG_BINARY, std::string("\x01", 1));    // 1 byte
  put(key_path, "ImageROMOffsetEnable", REG_EXPAND_SZ, std::string("1\0", 2));
  put(key_path, "ImageROMOffset", REG_BINARY, le32(0x80040000));
  put(key_path, "ComPort", REG_DWORD, le32(0x334D4F43));  // the bytes of "COM3", no terminator
  const std::string boot_path = (dir_.path() / "eboot.bin").string();
  put(key_path, "Bootloader0", REG_BINARY, boot_path + '\0');
  put(key_path, "Bootloader1", REG_SZ, boot_path + '\0');
  put(key_path, "Image0", REG_DWORD, le32(0x41414141));
  put(ethernet_key, "AcceptAll", REG_BINARY, le32(0));
  put(ethernet_key, "FastDL", REG_BINARY, le32(1));
  put(ethernet_key, "LastSelectedDevice", REG_BINARY, std::string("PXA270-BINARY") + '\0');
  put(ethernet_key, "Device0", REG_DWORD, le32(0x42424242));
  put_sz(ethernet_key, "Device1", "PXA270-GOOD");

  Program program;
  const ui::Window main = program.main();
  ASSERT_NE(main, ui::no_window);
  EXPECT_EQ(combo_items(main, IDC_BOOT_FILE), std::vector<std::string>{boot_path});
  EXPECT_EQ(combo_items(main, IDC_IMAGE_FILE), std::vector<std::string>{});
  EXPECT_EQ(text_of(main, IDC_IMAGE_FILE), "nk.bin");

  ui::Window jtag = open_by_click(main, IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
  ASSERT_NE(jtag, ui::no_window);
  EXPECT_TRUE(checked(jtag, IDC_JTAG_USB));  // interface 5
  EXPECT_FALSE(checked(jtag, IDC_JTAG_WIGGLER));
  EXPECT_EQ(text_of(jtag, IDC_JTAG_SPEED), "2000");
  EXPECT_FALSE(checked(jtag, IDC_JTAG_FAST));
  finish(jtag, IDCANCEL);

  ui::Window options = open_by_click(main, IDC_BOOT_OPTIONS, IDD_BOOTLOADER_OPTIONS);
  ASSERT_NE(options, ui::no_window);
  EXPECT_FALSE(checked(options, IDC_FIX_IP));
  EXPECT_EQ(text_of(options, IDC_FIX_IP_ADDRESS), "192.168.0.1");
  EXPECT_EQ(text_of(options, IDC_FIX_SUBNET), "255.255.255.0");
  EXPECT_FALSE(checked(options, IDC_FAST_BOOT));
  finish(options, IDCANCEL);

  ui::Window image = open_by_click(main, IDC_IMAGE_OPTIONS, IDD_IMAGE_OPTIONS);
  ASSERT_NE(image, ui::no_window);
  EXPECT_FALSE(checked(image, IDC_ROM_OFFSET_ENABLE));
  EXPECT_EQ(text_of(image, IDC_ROM_OFFSET), "0xf2020000");
  finish(image, IDCANCEL);

  click(main, IDC_IMAGE_SERIAL);
  ui::Window serial = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_SERIAL_SETTINGS);
  ASSERT_NE(serial, ui::no_window);
  // The default "COM1" is chosen when the prefix has that port; never the raw bytes.
  const std::vector<std::string> ports = combo_items(serial, IDC_COM_PORT);
  const bool has_com1 = std::find(ports.begin(), ports.end(), "COM1") != ports.end();
  EXPECT_EQ(combo_choice(serial, IDC_COM_PORT), has_com1 ? "COM1" : "");
  finish(serial, IDCANCEL);

  click(main, IDC_IMAGE_ETHERNET);
  ui::Window ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
  ASSERT_NE(ethernet, ui::no_window);
  EXPECT_TRUE(checked(ethernet, IDC_ACCEPT_ALL));
  EXPECT_FALSE(checked(ethernet, IDC_FAST_DOWNLOAD));
  EXPECT_EQ(combo_items(ethernet, IDC_MODULE_BOX), std::vector<std::string>{"PXA270-GOOD"});
  EXPECT_EQ(combo_choice(ethernet, IDC_MODULE_BOX), "");
  finish(ethernet, IDCANCEL);
  EXPECT_EQ(program.close(), 1);

  // Nothing was changed, so nothing was written: the foreign values are left as they were.
  const auto speed = stored(key_path, "JTAGSpeed");
  ASSERT_TRUE(speed.has_value());
  EXPECT_EQ(speed->type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(speed->bytes.size(), 2u);
  EXPECT_EQ(stored(ethernet_key, "Device0")->type, static_cast<DWORD>(REG_DWORD));
}

TEST_F(RegistryGui, EveryValueIsStoredWithItsTypeAndReadBackAtTheNextStart) {
  // Ten recent files in each half, and three known modules, the first of them chosen.
  std::vector<std::string> boots, images;
  for (int i = 0; i < 10; ++i) {
    boots.push_back("C:\\boot\\eboot" + std::to_string(i) + ".bin");
    images.push_back("C:\\images\\nk" + std::to_string(i) + ".bin");
    put_sz(key_path, "Bootloader" + std::to_string(i), boots.back());
    put_sz(key_path, "Image" + std::to_string(i), images.back());
  }
  const std::vector<std::string> modules = {"PXA270-00000A", "PXA270-00000B", "PXA270-00000C"};
  for (std::size_t i = 0; i < modules.size(); ++i)
    put_sz(ethernet_key, "Device" + std::to_string(i), modules[i]);
  put_sz(ethernet_key, "LastSelectedDevice", modules[0]);
  // An image the job refuses before detection: starting it still puts its name on the list.
  const std::string broken = (dir_.path() / "broken.bin").string();
  test::write_file(
      broken, make_image(0x80000000, 0x10, {{0x80001000, std::vector<std::uint8_t>{1, 2, 3, 4}}}));

  {
    Program program;
    const ui::Window main = program.main();
    ASSERT_NE(main, ui::no_window);
    ASSERT_EQ(combo_items(main, IDC_BOOT_FILE), boots);
    ASSERT_EQ(combo_items(main, IDC_IMAGE_FILE), images);

    // An eleventh bootloader name: the list keeps the first ten.
    choose_bootloader(main, broken);
    ASSERT_TRUE(enabled(main, IDC_BOOT_DOWNLOAD));
    click_later(main, IDC_BOOT_DOWNLOAD);
    const Box box = wait_for_message_box(program.ui_thread());
    ASSERT_NE(box.window, nullptr);
    PostMessageA(box.window, WM_COMMAND, IDOK, 0);
    SendMessageA(hwnd(main), WM_NULL, 0, 0);
    ASSERT_EQ(combo_items(main, IDC_BOOT_FILE).size(), 11u);
    // The last image name is picked: it moves to the top.
    SendMessageA(item(main, IDC_IMAGE_FILE), CB_SETCURSEL, 9, 0);
    notify(main, IDC_IMAGE_FILE, CBN_SELCHANGE);

    ui::Window jtag = open_by_click(main, IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
    ASSERT_NE(jtag, ui::no_window);
    click(jtag, IDC_JTAG_INSIGHT);
    type(jtag, IDC_JTAG_SPEED, "1500");
    if (!checked(jtag, IDC_JTAG_FAST)) click(jtag, IDC_JTAG_FAST);
    finish(jtag, IDOK);

    ui::Window ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
    ASSERT_NE(ethernet, ui::no_window);
    ASSERT_EQ(combo_items(ethernet, IDC_MODULE_BOX), modules);
    EXPECT_EQ(combo_choice(ethernet, IDC_MODULE_BOX), modules[0]);
    SendMessageA(item(ethernet, IDC_MODULE_BOX), CB_SETCURSEL, 2, 0);
    notify(ethernet, IDC_MODULE_BOX, CBN_SELENDOK);
    if (checked(ethernet, IDC_ACCEPT_ALL)) click(ethernet, IDC_ACCEPT_ALL);
    if (!checked(ethernet, IDC_FAST_DOWNLOAD)) click(ethernet, IDC_FAST_DOWNLOAD);
    finish(ethernet, IDOK);
    EXPECT_EQ(text_of(main, IDC_CURRENT_DEVICE), modules[2]);
    EXPECT_EQ(program.close(), 1);
  }

  // Recent files: REG_SZ, the new name first, ten at most.
  std::vector<std::string> boots_saved = {broken}, images_saved = {images[9]};
  boots_saved.insert(boots_saved.end(), boots.begin(), boots.begin() + 9);
  images_saved.insert(images_saved.end(), images.begin(), images.begin() + 9);
  for (std::size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(sz(key_path, "Bootloader" + std::to_string(i)), boots_saved[i]) << i;
    EXPECT_EQ(sz(key_path, "Image" + std::to_string(i)), images_saved[i]) << i;
  }
  EXPECT_FALSE(stored(key_path, "Bootloader10").has_value());
  EXPECT_FALSE(stored(key_path, "Image10").has_value());
  // Numbers: REG_DWORD of 4 bytes.
  const std::pair<const char*, std::uint32_t> numbers[] = {
      {"JTAGInterface", 3}, {"JTAGSpeed", 1500000}, {"JTAGFastProgramming", 1}};
  for (const auto& [name, value] : numbers) EXPECT_EQ(reg_dword(key_path, name), value) << name;
  EXPECT_EQ(reg_dword(ethernet_key, "AcceptAll"), 0u);
  EXPECT_EQ(reg_dword(ethernet_key, "FastDL"), 1u);
  // The chosen module is saved first.
  EXPECT_EQ(sz(ethernet_key, "LastSelectedDevice"), modules[2]);
  const std::vector<std::string> modules_saved = {modules[2], modules[0], modules[1]};
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(sz(ethernet_key, "Device" + std::to_string(i)), modules_saved[i]) << i;
  EXPECT_FALSE(stored(ethernet_key, "Device3").has_value());

  // The next start reads all of it.
  Program again;
  const ui::Window main = again.main();
  ASSERT_NE(main, ui::no_window);
  EXPECT_EQ(combo_items(main, IDC_BOOT_FILE), boots_saved);
  EXPECT_EQ(combo_items(main, IDC_IMAGE_FILE), images_saved);
  ui::Window jtag = open_by_click(main, IDC_BOOT_INTERFACE_SETTINGS, IDD_JTAG_SETTINGS);
  ASSERT_NE(jtag, ui::no_window);
  EXPECT_TRUE(checked(jtag, IDC_JTAG_INSIGHT));
  EXPECT_EQ(text_of(jtag, IDC_JTAG_SPEED), "1500");
  EXPECT_TRUE(checked(jtag, IDC_JTAG_FAST));
  finish(jtag, IDCANCEL);
  ui::Window ethernet = open_by_click(main, IDC_IMAGE_INTERFACE_SETTINGS, IDD_ETHERNET_SETTINGS);
  ASSERT_NE(ethernet, ui::no_window);
  EXPECT_EQ(combo_items(ethernet, IDC_MODULE_BOX), modules_saved);
  EXPECT_EQ(combo_choice(ethernet, IDC_MODULE_BOX), modules[2]);
  EXPECT_FALSE(checked(ethernet, IDC_ACCEPT_ALL));
  EXPECT_TRUE(checked(ethernet, IDC_FAST_DOWNLOAD));
  finish(ethernet, IDCANCEL);
  EXPECT_EQ(again.close(), 1);
}

}  // namespace
}  // namespace dz::testing
