// Process-wide state shared by the job, the detection dialog and the interfaces.
#include "download/interface.h"

#include <mutex>

namespace dz {

std::atomic<int> selected_interface{0};
std::atomic<int> detect_interface{0};
std::atomic<int> stop_flag{0};
std::atomic<int> abort_flag{0};

int noop_erase(std::uint32_t, std::uint32_t) {
  return 1;
}
int noop_prepare() {
  return 1;
}

namespace {

constexpr std::size_t target_description_limit = 511;  // 512 with the terminator

// Detection threads append while the Download dialog's thread reads it: one lock around it.
struct TargetDescription {
  std::mutex lock;
  std::string text;
};

TargetDescription& description() {
  static TargetDescription state;
  return state;
}

}  // namespace

void target_description_clear() {
  auto& d = description();
  std::lock_guard guard(d.lock);
  d.text.clear();
}

void target_description_set(std::string_view text) {
  auto& d = description();
  std::lock_guard guard(d.lock);
  d.text.assign(text.substr(0, target_description_limit));
}

void target_description_append(std::string_view text) {
  auto& d = description();
  std::lock_guard guard(d.lock);
  const std::size_t room = target_description_limit - d.text.size();
  d.text.append(text.substr(0, room));
}

std::string target_description() {
  auto& d = description();
  std::lock_guard guard(d.lock);
  return d.text;
}

}  // namespace dz
