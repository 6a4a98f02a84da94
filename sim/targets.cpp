// The list of every simulated module.
#include "sim/targets.h"

#include <charconv>
#include <string_view>

namespace dz::sim {

bool parse_number(const std::string& text, std::uint64_t& value, int base) {
  std::string_view t(text);
  if (base == 16 && t.starts_with("0x")) t.remove_prefix(2);
  if (t.empty()) return false;
  auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value, base);
  return ec == std::errc() && end == t.data() + t.size();
}

std::vector<TargetModel> all_target_models() {
  std::vector<TargetModel> all;
  for (auto family : {jtag_target_models(), serial_target_models(), ethernet_target_models(),
                      production_target_models()})
    all.insert(all.end(), family.begin(), family.end());
  return all;
}

const TargetModel* find_target_model(const std::string& name) {
  for (auto family : {jtag_target_models(), serial_target_models(), ethernet_target_models(),
                      production_target_models()})
    for (const auto& model : family)
      if (name == model.name) return &model;
  return nullptr;
}

}  // namespace dz::sim
