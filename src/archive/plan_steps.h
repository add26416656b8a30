#pragma once
// Schedule and execution-plan sections: lists of steps, each step a list of
// u32 indices (graph node indices in the schedule, kernel-call indices in
// the execution plan, whose steps are the groups run in order).
//
// Payload: step count u32, then per step index count c u32 and c indices u32.
#include <cstdint>
#include <span>
#include <vector>

#include "archive/bytes.h"
#include "archive/error.h"

namespace tessary {

using PlanStep = std::vector<std::uint32_t>;
using PlanSteps = std::vector<PlanStep>;

// Both refuse more than 2^32 - 1 steps or indices in one step.
ArchiveResult<Bytes> encode_schedule(std::span<const PlanStep> steps);
ArchiveResult<Bytes> encode_exec_plan(std::span<const PlanStep> steps);

ArchiveResult<PlanSteps> decode_schedule(ByteView payload);
ArchiveResult<PlanSteps> decode_exec_plan(ByteView payload);

}  // namespace tessary
