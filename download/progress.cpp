// Progress text and its once-a-second refresh.
#include "download/progress.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>

#include "platform/clock.h"

namespace dz {

namespace {
int as_int(std::uint64_t value) {
  return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX));
}
}  // namespace

std::string progress_text(std::uint32_t elapsed_ms, std::uint64_t total, std::uint64_t done) {
  const std::uint64_t s = elapsed_ms / 1000;
  std::uint64_t r = 0;
  if (done != 0) {
    const std::uint64_t expected = s != 0 && total > UINT64_MAX / s ? UINT64_MAX : s * total / done;
    r = expected > s ? expected - s : 0;
  }
  const std::uint64_t v = s != 0 ? done / s : 0;
  char text[128];
  std::snprintf(text, sizeof text,
                "Elapsed Time: %.2d:%.2d, Remaining: %.2d:%.2d s, Speed: %d.%.2d KB/s",
                as_int(s / 60), as_int(s % 60), as_int(r / 60), as_int(r % 60), as_int(v / 1024),
                as_int((v % 1024) / 10));
  return text;
}

ProgressClock::ProgressClock() : start_tick_(clock::tick_ms()) {}

bool ProgressClock::due(std::uint32_t& elapsed_ms) {
  elapsed_ms = clock::tick_ms() - start_tick_;
  if (elapsed_ms - last_elapsed_ <= 1000) return false;
  last_elapsed_ = elapsed_ms;
  return true;
}

}  // namespace dz
