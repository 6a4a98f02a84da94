#pragma once
// The production test window (dialog 123), started by the command line "-test": writes
// "eboot.bin" over JTAG and "nk.bin" over Ethernet while a log thread records everything the
// module prints on the serial line into "FIELD1-FIELD2-FIELD3-FIELD4.log", and passes when the
// module answers "OK" alone. A second button dumps the NAND bad block table.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/serial_port.h"
#include "platform/ui.h"

namespace dz {

// Set when the test ends; the log thread polls it between reads.
extern std::atomic<int> test_stop_flag;

// The serial line's read time-outs while logging (ms).
inline constexpr serial::Port::ReadTimeouts log_read_timeouts{
    .interval = 250, .multiplier = 10, .constant = 100};
// How long the test waits for the log thread after the second download (on the program clock).
inline constexpr std::uint32_t log_wait_ms = 5000;

// The result of the last test run: -1 none yet (or not started: a file missing), 0 "Test Failed",
// 1 "Test Successful".
int production_test_result();
// The last "Dump Bad Block Table": -1 none yet, 0 the module or its flash did not answer, 1 the
// table was read.
int bad_block_dump_result();

// The port the log thread opens: `name` when not empty; otherwise the simulated module's line
// (serial::com_port_override) when one is attached, else the platform's (serial::test_log_port).
void set_log_port(std::string_view name);
std::string log_port_name();

// The log file name from the four identification fields (each cut to 15 characters).
std::string log_file_name(const std::string& f1, const std::string& f2, const std::string& f3,
                          const std::string& f4);

// The dialog procedure of template 123, and running the window modally (returns its end value).
ui::DialogProc production_test_dialog_proc();
std::intptr_t run_production_test(ui::Window owner);

// Waits (bounded by one read's time-outs) for a log thread still running from an earlier test.
void production_test_join_log_thread();

// Puts the module's state back to a fresh process (tests).
void reset_production_test_state();

}  // namespace dz
