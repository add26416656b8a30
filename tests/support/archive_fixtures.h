#pragma once
// Small helpers for tests that build archives with the writer.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/writer.h"

namespace tessary::testing {

inline PortDescriptor port(std::string name, std::uint32_t slot, DTypeId dtype, std::vector<std::uint64_t> shape) {
  PortDescriptor p;
  p.name = std::move(name);
  p.slot = slot;
  p.dtype = dtype;
  p.elements = 1;
  for (std::uint64_t d : shape) p.elements *= d;
  p.shape = std::move(shape);
  return p;
}

inline BufferRef ref(std::uint32_t slot, std::uint64_t offset = 0, std::uint64_t len = 0) {
  return BufferRef{offset, len, slot};
}

inline LayoutCall layout(CallKind kind, BufferRef in, BufferRef out, std::uint64_t n, DTypeId dtype) {
  LayoutCall c;
  c.kind = kind;
  c.input = in;
  c.output = out;
  c.n = n;
  c.dtype = dtype;
  return c;
}

inline BinaryCall concat(BufferRef a, BufferRef b, BufferRef out, std::uint64_t n, DTypeId dtype) {
  BinaryCall c;
  c.kind = CallKind::Concat;
  c.a = a;
  c.b = b;
  c.output = out;
  c.n = n;
  c.dtype = dtype;
  return c;
}

struct ArchiveSpec {
  std::vector<KernelCall> calls;
  std::vector<PortDescriptor> inputs, outputs;
  std::vector<archive::ConstantEntry> constants;
  PlanSteps plan;
  WeightStore weights;
  std::vector<std::pair<std::string, Bytes>> extensions;
};

inline Bytes build_archive(ArchiveSpec spec) {
  TessWriter w;
  w.set_kernel_calls(std::move(spec.calls));
  w.set_inputs(std::move(spec.inputs));
  w.set_outputs(std::move(spec.outputs));
  w.set_constants(std::move(spec.constants));
  w.set_exec_plan(std::move(spec.plan));
  w.set_weights(std::move(spec.weights));
  for (auto& [k, v] : spec.extensions) w.add_extension(k, v);
  auto bytes = std::move(w).finish();
  return bytes ? std::move(*bytes) : Bytes{};
}

}  // namespace tessary::testing
