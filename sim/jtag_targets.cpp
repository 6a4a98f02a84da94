// Simulated jtag modules (none yet).
#include "sim/targets.h"

namespace dz::sim {

std::span<const TargetModel> jtag_target_models() { return {}; }

}  // namespace dz::sim
