// Simulated ethernet modules (none yet).
#include "sim/targets.h"

namespace dz::sim {

std::span<const TargetModel> ethernet_target_models() { return {}; }

}  // namespace dz::sim
