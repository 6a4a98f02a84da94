// Settings files come from the user's disk: any bytes must parse or be refused cleanly, and what
// parses must survive a write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dz::settings;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  StoreData first;
  if (!file::parse(text, first)) return 0;
  StoreData second;
  if (!file::parse(file::format(first), second)) std::abort();
  if (first.size() != second.size()) std::abort();
  for (const auto& [key, k] : first) {
    auto other = second.find(key);
    if (other == second.end() || other->second.values.size() != k.values.size()) std::abort();
    for (const auto& [name, v] : k.values) {
      auto o = other->second.values.find(name);
      if (o == other->second.values.end() || o->second.bytes != v.bytes) std::abort();
    }
  }
  return 0;
}
