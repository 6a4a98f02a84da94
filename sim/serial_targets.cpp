// Simulated serial modules (none yet).
#include "sim/targets.h"

namespace dz::sim {

std::span<const TargetModel> serial_target_models() { return {}; }

}  // namespace dz::sim
