#include "archive/plan_steps.h"

#include "archive/payload_rules.h"

namespace tessary {

namespace {

constexpr std::size_t kMinStepBytes = 4;  // an empty step: its count alone

ArchiveResult<Bytes> encode_steps(std::span<const PlanStep> steps) {
  ByteWriter w;
  if (auto r = put_count(w, steps.size()); !r) return std::unexpected(r.error());
  for (const PlanStep& step : steps) {
    if (auto r = put_count(w, step.size()); !r) return std::unexpected(r.error());
    for (std::uint32_t index : step) w.u32(index);
  }
  return w.take();
}

ArchiveResult<PlanSteps> decode_steps(ByteView payload) {
  Cursor c(payload);
  auto count = read_count(c);
  if (!count) return std::unexpected(count.error());
  PlanSteps steps;
  steps.reserve(reserve_bound(*count, c.remaining(), kMinStepBytes));
  for (std::uint32_t s = 0; s < *count; ++s) {
    auto n = c.u32();
    if (!n) return std::unexpected(n.error());
    PlanStep step;
    step.reserve(reserve_bound(*n, c.remaining(), 4));
    for (std::uint32_t i = 0; i < *n; ++i) {
      auto index = c.u32();
      if (!index) return std::unexpected(index.error());
      step.push_back(*index);
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

}  // namespace

ArchiveResult<Bytes> encode_schedule(std::span<const PlanStep> steps) { return encode_steps(steps); }
ArchiveResult<Bytes> encode_exec_plan(std::span<const PlanStep> steps) { return encode_steps(steps); }

ArchiveResult<PlanSteps> decode_schedule(ByteView payload) { return decode_steps(payload); }
ArchiveResult<PlanSteps> decode_exec_plan(ByteView payload) { return decode_steps(payload); }

}  // namespace tessary
