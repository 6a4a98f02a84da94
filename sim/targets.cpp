// The list of every simulated module.
#include "sim/targets.h"

namespace dz::sim {

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
