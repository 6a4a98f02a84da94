#pragma once
// Download interfaces: one record of operation slots per path to a module (JTAG, serial, USB,
// Ethernet), in the fixed table `download_interfaces`, plus the flags and the target description
// that the job, the detection dialog and the interfaces share.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ui.h"

namespace dz {

struct DownloadInterface {
  char name[32];
  std::uint32_t (*detect)(ui::Window dialog);  // thread routine; ends the detection dialog itself
  int (*open)(ui::Window dialog);
  int (*erase)(std::uint32_t start, std::uint32_t length);
  // The buffer belongs to the caller; a driver may change it in place (the PXA310 boot marker),
  // so that a following verify of the same buffer agrees.
  int (*write)(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
  int (*verify)(const std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
  int (*close)();
  int (*load_settings)();
  int (*settings_dialog)(ui::Window owner);
  int (*save_settings)();
  std::uint32_t (*monitor)(ui::Window dialog);  // thread routine beside the transfer, or empty
  std::uint32_t streams_whole_file;
  std::uint32_t (*first_block_span)();
};

inline constexpr int interface_count = 4;
inline constexpr int jtag_interface_index = 0;
inline constexpr int serial_interface_index = 1;
inline constexpr int usb_interface_index = 2;
inline constexpr int ethernet_interface_index = 3;

// The table, in the order of the main window's radio buttons. Defined by download/table (the
// program) or by a test that brings its own records.
extern const DownloadInterface download_interfaces[interface_count];

// The shared no-op: does nothing and returns 1 (erase slot of the streaming interfaces, prepare
// slot of the flash drivers).
int noop_erase(std::uint32_t start, std::uint32_t length);
int noop_prepare();

extern std::atomic<int> selected_interface;  // record of the current job
extern std::atomic<int> detect_interface;    // record whose detect the detection dialog runs
extern std::atomic<int> stop_flag;           // set by the detection dialog's Abort
extern std::atomic<int> abort_flag;          // set by the Download dialog's Abort

// The target description: at most 511 characters, emptied at the start of every job, filled by
// detection and flash probing, shown at the top of the Download dialog.
void target_description_clear();
void target_description_set(std::string_view text);     // replaces the contents
void target_description_append(std::string_view text);  // cut at 511 characters
std::string target_description();

}  // namespace dz
