#pragma once
// Interface records for the main-window tests: they count settings calls, record the jobs that
// reach them, and answer detection at once (or refuse it).
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace dz::testing {

struct ShellRecorder {
  std::mutex lock;
  std::vector<std::string> calls;      // "load 0", "save 1", "dialog 3", "open 0", "write 0" ...
  std::atomic<int> detect_answers{1};  // 0: detect sends IDCANCEL
};

ShellRecorder& shell_recorder();
void reset_shell_recorder();
std::vector<std::string> shell_calls();

}  // namespace dz::testing
