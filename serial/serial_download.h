#pragma once
// The "Serial Interface" record of download_interfaces: waits for the bootloader's ready
// sequence on a serial port, streams the file through the port unchanged while a monitor thread
// echoes the module's console into the Download dialog, and keeps the port name ("ComPort").
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/interface.h"

namespace dz {

// Received text kept from before the ready sequence (the rest of serial_rx_buffer holds its
// terminating zero).
inline constexpr std::size_t serial_rx_capacity = 1024;

// The record's operations.
std::uint32_t serial_detect(ui::Window dialog);
int serial_open(ui::Window dialog);
int serial_write(std::uint8_t* buffer, std::uint32_t address, std::uint32_t length);
int serial_close();
int serial_load_settings();
int serial_settings_dialog(ui::Window owner);
int serial_save_settings();
std::uint32_t serial_monitor(ui::Window dialog);

inline constexpr DownloadInterface serial_download_interface{
    .name = "Serial Interface",
    .detect = serial_detect,
    .open = serial_open,
    .erase = noop_erase,
    .write = serial_write,
    .verify = nullptr,
    .close = serial_close,
    .load_settings = serial_load_settings,
    .settings_dialog = serial_settings_dialog,
    .save_settings = serial_save_settings,
    .monitor = serial_monitor,
    .streams_whole_file = 1,
    .first_block_span = nullptr};

// `com_port_name`: the configured port ("ComPort"); at most port_name_capacity() - 1 characters
// are kept. Default: the platform's first serial port.
std::string com_port_name();
void set_com_port_name(std::string_view name);

// serial::com_port_override (platform/serial_port.h), when set, replaces com_port_name for detect
// and open without being stored in the settings.

// What detect collected before the ready sequence (serial_rx_buffer up to its terminator).
std::string serial_collected_text();

// Time the monitor keeps echoing after close asks it to stop: it ends once the line has been
// quiet for serial_drain_quiet_ms, and in any case after serial_drain_limit_ms.
inline constexpr std::uint32_t serial_drain_quiet_ms = 300;
inline constexpr std::uint32_t serial_drain_limit_ms = 2000;
// A write that cannot hand the port a single byte for this long fails.
inline constexpr std::uint32_t serial_write_stall_ms = 10000;

// Puts the interface's process-wide state back to its start (between tests). No download may run.
void reset_serial_state();

}  // namespace dz
