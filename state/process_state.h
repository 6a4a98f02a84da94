#pragma once
// Process-wide state that the layers share without depending on one another: the flags of the
// running job, the target description and the flash failure notes. Free of any UI, so that the
// boundary-scan and flash code below the job can report into it.
#include <atomic>
#include <string>
#include <string_view>

namespace dz {

extern std::atomic<int> selected_interface;  // record of the current job
extern std::atomic<int> detect_interface;    // record whose detect the detection dialog runs
extern std::atomic<int> stop_flag;           // set by the detection dialog's Abort
extern std::atomic<int> abort_flag;          // set by the Download dialog's Abort

// Production test mode: 0 until the test dialog initialises, then 1 (the StrataFlash probe then
// also erases the first block of each chip select).
extern std::atomic<int> test_mode_flag;

// The target description: at most 511 characters, emptied at the start of every job, filled by
// detection and flash probing, shown at the top of the Download dialog.
void target_description_clear();
void target_description_set(std::string_view text);     // replaces the contents
void target_description_append(std::string_view text);  // cut at 511 characters
std::string target_description();

// Flash failure notes collected in production-test mode (the StrataFlash probe's erase).
void flash_failure_notes_clear();
void flash_failure_notes_append(std::string_view text);
std::string flash_failure_notes();

}  // namespace dz
