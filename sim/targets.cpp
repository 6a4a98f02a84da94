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

bool parse_target(const std::string& target, std::string& model, TargetOptions& options,
                  std::string& error) {
  const std::string prefix = "sim:";
  if (target.rfind(prefix, 0) != 0) {
    error = "--target: expected sim:MODEL[,key=value...], got '" + target + "'";
    return false;
  }
  std::string rest = target.substr(prefix.size());
  std::size_t comma = rest.find(',');
  model = rest.substr(0, comma);
  while (comma != std::string::npos) {
    std::size_t next = rest.find(',', comma + 1);
    std::string item = rest.substr(comma + 1, next == std::string::npos ? next : next - comma - 1);
    std::size_t equals = item.find('=');
    if (item.empty() || equals == 0 || equals == std::string::npos) {
      error = "--target: option '" + item + "' is not of the form key=value";
      return false;
    }
    options[item.substr(0, equals)] = item.substr(equals + 1);
    comma = next;
  }
  if (model.empty()) {
    error = "--target: the model name is missing";
    return false;
  }
  return true;
}

}  // namespace dz::sim
