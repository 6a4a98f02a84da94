// The dialog templates of the program as data, for the headless host.
#include "resources/templates.h"

#include <array>

#include "resources/resource.h"

namespace dz::resources {
namespace {

using K = ControlKind;

// Main window (101); its caption is set at run time.
constexpr ControlTemplate main_controls[] = {
    {-1, K::frame, "Load Bootloader", 0},
    {-1, K::frame, "Download Interface:", 0},
    {IDC_BOOT_JTAG, K::radio_button, "JTAG", 0},
    {IDC_BOOT_INTERFACE_SETTINGS, K::button, "Interface Settings...", 0},
    {IDC_BOOT_OPTIONS, K::button, "Bootloader Options...", 0},
    {-1, K::static_text, "File to Download:", 0},
    {IDC_BOOT_FILE, K::combo_drop_down, "", 0},
    {IDC_BOOT_BROWSE, K::button, "...", 0},
    {-1, K::static_text, "Image Type:", 0},
    {IDC_BOOT_TYPE, K::edit, "", read_only},
    {-1, K::static_text, "Image Start:", 0},
    {IDC_BOOT_START, K::edit, "", read_only},
    {-1, K::static_text, "Image Length:", 0},
    {IDC_BOOT_LENGTH, K::edit, "", read_only},
    {IDC_BOOT_DOWNLOAD, K::button, "Download Bootloader...", 0},
    {IDC_VERIFY, K::check_box, "Verify", 0},
    {-1, K::frame, "Load Image", 0},
    {-1, K::frame, "Downlaod Interface:", 0},
    {IDC_IMAGE_JTAG, K::radio_button, "JTAG", 0},
    {IDC_IMAGE_SERIAL, K::radio_button, "Serial", 0},
    {IDC_IMAGE_USB, K::radio_button, "USB", 0},
    {IDC_IMAGE_ETHERNET, K::radio_button, "Ethernet", 0},
    {IDC_IMAGE_INTERFACE_SETTINGS, K::button, "Interface Settings...", 0},
    {IDC_IMAGE_OPTIONS, K::button, "Image Options...", 0},
    {-1, K::static_text, "File to Download:", 0},
    {IDC_IMAGE_FILE, K::combo_drop_down, "", 0},
    {IDC_IMAGE_BROWSE, K::button, "...", 0},
    {-1, K::static_text, "Image Type:", 0},
    {IDC_IMAGE_TYPE, K::edit, "", 0},
    {-1, K::static_text, "Image Start:", 0},
    {IDC_IMAGE_START, K::edit, "", 0},
    {-1, K::static_text, "Image Length:", 0},
    {IDC_IMAGE_LENGTH, K::edit, "", 0},
    {-1, K::static_text, "Current Device:", 0},
    {IDC_CURRENT_DEVICE, K::edit, "", read_only},
    {IDC_IMAGE_DOWNLOAD, K::button, "Download Image...", 0},
};

constexpr ControlTemplate about_controls[] = {
    {-1, K::static_text, "Quintar Loader", 0},
    {IDB_ABOUT, K::static_text, "", 0},  // the picture from bitmap 120
    {IDC_ABOUT_VERSION, K::static_text, "Version %d.%.2d Built %s", 0},
    {1, K::default_button, "OK", 0},
};

// Device Detection (106); the caption is replaced at run time.
constexpr ControlTemplate detection_controls[] = {
    {IDC_DETECT_STATUS, K::edit, "", read_only},
    {-1, K::static_text, "Waiting for CPU to Respond", 0},
    {IDC_DETECT_HINT, K::static_text, "", 0},
    {2, K::button, "Abort", 0},
    {IDC_CONNECTION_HELP, K::button, "Connection Help...", hidden},
};

constexpr ControlTemplate download_controls[] = {
    {IDC_TARGET_TEXT, K::static_text, "", 0},
    {IDC_SECTION_TEXT, K::static_text, "", hidden},
    {IDC_SECTION_BAR, K::progress_bar, "", hidden},
    {IDC_STAGE_TEXT, K::static_text, "", 0},
    {IDC_TOTAL_BAR, K::progress_bar, "", hidden},
    {IDC_TIME_TEXT, K::static_text, "", 0},
    {IDC_FLASH_MAP, K::frame, "", hidden},
    {IDC_MONITOR_OUTPUT, K::multiline_edit, "", hidden | read_only},
    {2, K::button, "Abort", 0},
};

constexpr const char* port_speeds[] = {"115200", "230400", nullptr};

constexpr ControlTemplate serial_controls[] = {
    {1, K::default_button, "OK", 0},
    {2, K::button, "Cancel", 0},
    {-1, K::static_text, "Com Port:", 0},
    {IDC_COM_PORT, K::combo_drop_list, "", sorted},
    {-1, K::static_text, "Port Speed:", disabled},
    {IDC_PORT_SPEED, K::combo_drop_list, "", disabled, port_speeds},
};

constexpr ControlTemplate ethernet_controls[] = {
    {1, K::default_button, "OK", 0},
    {2, K::button, "Cancel", 0},
    {-1, K::static_text, "Detected Modules:", 0},
    {IDC_MODULE_BOX, K::combo_simple, "", 0},
    {-1, K::static_text, "Module Details:", 0},
    {IDC_DEVICE_DETAILS, K::list_box, "", 0},
    {IDC_ACCEPT_ALL, K::check_box, "Accept all Devices", 0},
    {IDC_FAST_DOWNLOAD, K::check_box, "FastDownload (Experimental)", 0},
};

constexpr ControlTemplate bootloader_options_controls[] = {
    {IDC_FIX_IP, K::check_box, "Program Fix IP and SubnetMask", 0},
    {-1, K::static_text, "IP Address:", 0},
    {IDC_FIX_IP_ADDRESS, K::ip_address, "", 0},
    {-1, K::static_text, "Subnet Mask:", 0},
    {IDC_FIX_SUBNET, K::ip_address, "", 0},
    {IDC_FAST_BOOT, K::check_box, "Fast Boot (No Image Download Possible)", 0},
    {1, K::default_button, "OK", 0},
    {2, K::button, "Cancel", 0},
};

constexpr ControlTemplate image_options_controls[] = {
    {IDC_ROM_OFFSET_ENABLE, K::check_box, "Offset IMAGE", 0},
    {IDC_ROM_OFFSET, K::edit, "", 0},
    {1, K::default_button, "OK", 0},
    {2, K::button, "Cancel", 0},
};

constexpr ControlTemplate jtag_controls[] = {
    {1, K::default_button, "OK", 0},
    {2, K::button, "Cancel", 0},
    {-1, K::static_text, "JTAG Adapter:", 0},
    {IDC_JTAG_BELVONA, K::radio_button, "Belvona Parallel Port Adapter", 0},
    {IDC_JTAG_ZO, K::radio_button, "Z&O Parallel Port Adapter", 0},
    {IDC_JTAG_WIGGLER, K::radio_button, "Wiggler", 0},
    {IDC_JTAG_INSIGHT, K::radio_button, "Insight / Xilinx III/IV", 0},
    {IDC_JTAG_USB, K::radio_button, "Olimex / Amontec USB to JTAG", 0},
    {IDC_JTAG_SPEED, K::edit, "", 0},
    {IDC_JTAG_SPEED_LABEL, K::static_text, "Speed [kHz]", 0},
    {IDC_JTAG_SPEED_HINT, K::static_text, "0=Auto; Max:6000", 0},
    {IDC_JTAG_FAST, K::check_box, "Fast Programming", 0},
};

constexpr ControlTemplate production_test_controls[] = {
    {IDC_TEST_FIELD1, K::edit, "RSDA1", 0},
    {IDC_TEST_FIELD2, K::edit, "A001", 0},
    {IDC_TEST_FIELD3, K::edit, "0", 0},
    {IDC_TEST_FIELD4, K::edit, "V000001", 0},
    {IDC_TEST_START, K::button, "Start Test", 0},
    {IDC_TEST_DUMP_BBT, K::button, "Dump Bad Block Table", 0},
};

constexpr std::array<DialogTemplate, 10> templates{{
    {IDD_MAIN, "Quintar Loader", main_controls},
    {IDD_ABOUT, "About", about_controls},
    {IDD_DETECTION, "Device Detection", detection_controls},
    {IDD_DOWNLOAD, "Download", download_controls},
    {IDD_SERIAL_SETTINGS, "Serial Interface Settings", serial_controls},
    {IDD_ETHERNET_SETTINGS, "Ethernet Interface Settings", ethernet_controls},
    {IDD_BOOTLOADER_OPTIONS, "Bootloader Options", bootloader_options_controls},
    {IDD_IMAGE_OPTIONS, "Image Options", image_options_controls},
    {IDD_JTAG_SETTINGS, "JTAG Interface Settings", jtag_controls},
    {IDD_PRODUCTION_TEST, "Dialog", production_test_controls},
}};

}  // namespace

const DialogTemplate* find_template(int id) {
  for (const DialogTemplate& t : templates) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

std::span<const DialogTemplate> all_templates() {
  return templates;
}

}  // namespace dz::resources
