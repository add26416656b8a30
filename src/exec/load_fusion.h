#pragma once
// The load-time rewriting step: runs between decoding the plan and binding
// constants, and may rewrite the call list and the plan together.
#include <span>
#include <vector>

#include "archive/plan_steps.h"
#include "archive/ports.h"
#include "compute/kernel_call.h"

namespace tessary {

// False when the rewrite fails (the load then fails).
bool run_load_fusion(std::vector<KernelCall>& calls, PlanSteps& plan, std::span<const PortDescriptor> outputs);

}  // namespace tessary
