#pragma once
// TessWriter: one slot per section source, each replaced wholesale by its
// setter; finish lays them out in the fixed section order and seals the
// archive.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "archive/constants.h"
#include "archive/container.h"
#include "archive/plan_steps.h"
#include "archive/ports.h"
#include "archive/weights.h"
#include "compute/kernel_call.h"
#include "types/shape.h"

namespace tessary {

class TessWriter {
 public:
  TessWriter() = default;

  void set_kernel_calls(std::vector<KernelCall> calls) { calls_ = std::move(calls); }
  void set_schedule(PlanSteps schedule) { schedule_ = std::move(schedule); }
  void set_weights(WeightStore weights) { weights_ = std::move(weights); }
  void set_shape_registry(std::vector<ShapeDescriptor> shapes) { shapes_ = std::move(shapes); }
  // Already encoded certificate records, stored unchanged.
  void set_certificates(Bytes encoded) { certificates_ = std::move(encoded); }
  void set_inputs(std::vector<PortDescriptor> ports) { inputs_ = std::move(ports); }
  void set_outputs(std::vector<PortDescriptor> ports) { outputs_ = std::move(ports); }
  void set_constants(std::vector<archive::ConstantEntry> constants) { constants_ = std::move(constants); }
  void set_exec_plan(PlanSteps plan) { exec_plan_ = std::move(plan); }
  // Extensions are appended in call order, one section each.
  void add_extension(std::string key, Bytes value) { extensions_.emplace_back(std::move(key), std::move(value)); }

  // Consumes the writer. Section order: calls, schedule, weights, shape
  // registry, certificates, inputs, outputs, constants, execution plan,
  // extensions. Fails only when a value is past an encoder's limits (a name
  // or key over 65535 bytes, a rank over 8 or 255, a count over 2^32 - 1)
  // or the archive would need more than 65535 sections.
  ArchiveResult<Bytes> finish() &&;

 private:
  std::vector<KernelCall> calls_;
  std::optional<PlanSteps> schedule_;
  WeightStore weights_;
  std::optional<std::vector<ShapeDescriptor>> shapes_;
  Bytes certificates_;
  std::vector<PortDescriptor> inputs_;
  std::vector<PortDescriptor> outputs_;
  std::vector<archive::ConstantEntry> constants_;
  PlanSteps exec_plan_;
  std::vector<std::pair<std::string, Bytes>> extensions_;
};

}  // namespace tessary
