// Settings files come from the user's disk and texts in them from the network (module names):
// any bytes must parse or be refused cleanly, what parses must survive a write and a second read
// unchanged, and any bytes stored as a text must make a file that reads back exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/settings_file.h"

namespace {

using namespace dz::settings;

// Entries of kinds the file does not keep are known to be there but are not written back.
std::size_t kept(const KeyData& key) {
  std::size_t n = 0;
  for (const auto& [name, v] : key.values) n += v.type != reg_unsupported;
  return n;
}

void same_or_abort(const StoreData& first, const StoreData& second) {
  if (first.size() != second.size()) std::abort();
  for (const auto& [key, k] : first) {
    auto other = second.find(key);
    if (other == second.end() || kept(other->second) != kept(k)) std::abort();
    for (const auto& [name, v] : k.values) {
      if (v.type == reg_unsupported) continue;
      auto o = other->second.values.find(name);
      if (o == other->second.values.end() || !(o->second == v)) std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  StoreData as_text;
  as_text["Software\\Belvona\\DividezUrirer\\Ethernet"].values["Device0"] = string_value(text);
  StoreData back;
  if (!file::parse(file::format(as_text), back)) std::abort();
  same_or_abort(as_text, back);

  StoreData first;
  if (!file::parse(text, first)) return 0;
  StoreData second;
  if (!file::parse(file::format(first), second)) std::abort();
  same_or_abort(first, second);
  return 0;
}
