#pragma once
// Download interface records for the job tests: every slot records its call (with the bytes of
// each piece) into a simple flash memory, and can be told to fail, to abort or to wait.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "download/interface.h"

namespace dz::testing {

// A WM_COMMAND with only its id, as a button sends it.
inline ui::Command command(int id) {
  ui::Command c;
  c.id = id;
  return c;
}

enum class DetectMode { answer, cancel, wait_for_stop };

struct Call {
  int interface_index = 0;
  std::string op;  // detect, open, erase, write, verify, close, monitor
  std::uint32_t address = 0;
  std::uint32_t length = 0;
  std::vector<std::uint8_t> bytes;
};

struct Recorder {
  std::mutex lock;
  std::vector<Call> calls;
  std::map<std::uint32_t, std::uint8_t> flash;  // what write stored
  // Knobs, set before a job starts.
  DetectMode detect_mode = DetectMode::answer;
  bool fail_open = false;
  bool fail_erase = false;
  int fail_write_at = -1;   // 0-based write call that returns 0
  int fail_verify_at = -1;  // 0-based verify call that returns 0
  int abort_at_write = -1;  // during this write, the user presses Abort
  std::uint32_t block_span = 0;
  std::uint32_t write_delay_ms = 0;   // virtual time each write takes
  std::function<void()> during_open;  // runs inside open (after detection, before the erase)
  ui::Window download_dialog = ui::no_window;
  std::atomic<int> detect_saw_stop{0};
  std::atomic<int> monitor_done{0};
};

Recorder& recorder();
void reset_recorder();
std::vector<Call> calls();
std::vector<std::string> ops();  // "open", "erase", ... in call order
std::vector<Call> calls_of(const std::string& op);

}  // namespace dz::testing
