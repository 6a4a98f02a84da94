#pragma once
// The Download dialog's time text: elapsed and remaining time and speed, refreshed about once a
// second.
#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace dz {

// "Elapsed Time: mm:ss, Remaining: mm:ss s, Speed: k.hh KB/s" for `done` of `total` bytes after
// `elapsed_ms`. Never divides by zero: nothing done gives a remaining time of 0, and less than a
// second gives a speed of 0.
std::string progress_text(std::uint32_t elapsed_ms, std::uint64_t total, std::uint64_t done);

// One transfer's progress refresh: at most once a second (more than 1000 ms since the last one).
class ProgressClock {
 public:
  ProgressClock();  // takes the start tick
  // True when a refresh is due; `elapsed_ms` is set to the time since the start.
  bool due(std::uint32_t& elapsed_ms);

 private:
  std::uint32_t start_tick_;
  std::uint32_t last_elapsed_ = 0;
};

}  // namespace dz
