#pragma once
// Download interfaces: one record of operation slots per path to a module (JTAG, serial, USB,
// Ethernet), in the fixed table `download_interfaces`. The flags and the target description that
// the job, the detection dialog and the interfaces share live in state/process_state.h.
#include <cstdint>

#include "platform/ui.h"
#include "state/process_state.h"

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
// slot of the flash drivers). Inline, so that the records need no library of the job.
inline int noop_erase(std::uint32_t, std::uint32_t) {
  return 1;
}
inline int noop_prepare() {
  return 1;
}

}  // namespace dz
