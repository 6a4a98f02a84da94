// Process-wide state shared by the job, the detection dialog, the interfaces and the flash code.
#include "state/process_state.h"

#include <algorithm>
#include <mutex>

namespace dz {

std::atomic<int> selected_interface{0};
std::atomic<int> detect_interface{0};
std::atomic<int> stop_flag{0};
std::atomic<int> abort_flag{0};
std::atomic<int> test_mode_flag{0};

namespace {

constexpr std::size_t text_limit = 511;  // 512 with the terminator, for both texts

// Detection threads append while the Download dialog's thread reads: one lock around each text.
struct LockedText {
  std::mutex lock;
  std::string text;

  void clear() {
    std::lock_guard guard(lock);
    text.clear();
  }
  void set(std::string_view value) {
    std::lock_guard guard(lock);
    text.assign(value.substr(0, text_limit));
  }
  void append(std::string_view value) {
    std::lock_guard guard(lock);
    const std::size_t room = text_limit - std::min(text_limit, text.size());
    text.append(value.substr(0, room));
  }
  std::string get() {
    std::lock_guard guard(lock);
    return text;
  }
};

LockedText& description() {
  static LockedText state;
  return state;
}

LockedText& failure_notes() {
  static LockedText state;
  return state;
}

}  // namespace

void target_description_clear() {
  description().clear();
}
void target_description_set(std::string_view text) {
  description().set(text);
}
void target_description_append(std::string_view text) {
  description().append(text);
}
std::string target_description() {
  return description().get();
}

void flash_failure_notes_clear() {
  failure_notes().clear();
}
void flash_failure_notes_append(std::string_view text) {
  failure_notes().append(text);
}
std::string flash_failure_notes() {
  return failure_notes().get();
}

}  // namespace dz
