#pragma once
// Helpers for the back-end tests: graphs built node by node or parsed from
// program text, and compiled archives decoded section by section.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/calls_codec.h"
#include "archive/certificates.h"
#include "archive/constants.h"
#include "archive/container.h"
#include "archive/plan_steps.h"
#include "archive/ports.h"
#include "archive/shape_registry.h"
#include "archive/weights.h"
#include "compiler/source/frontends/frontend_registry.h"
#include "compiler/source/lowering.h"
#include "graph/graph.h"

namespace tessary::testing {

inline InputSource N(NodeId id) { return InputSource::node(id); }

struct GraphBuilder {
  Graph g;

  ShapeId shape(const std::vector<std::uint64_t>& dims) {
    ShapeDescriptor d;
    std::uint8_t r = 0;
    for (auto v : dims) d.dims[r++] = v;
    d.rank = r;
    return g.shapes.intern(d);
  }
  NodeId input(std::string name, ShapeId shape, DTypeId dtype = DTypeId::F32) {
    Node n;
    n.kind = NodeKind::graph_input();
    n.shape = shape;
    n.dtype = dtype;
    const NodeId id = g.add_node(n);
    g.input_nodes.push_back(id);
    g.input_names.push_back(std::move(name));
    return id;
  }
  NodeId op(OpKind kind, std::initializer_list<InputSource> inputs, ShapeId shape,
            DTypeId dtype = DTypeId::F32) {
    Node n;
    n.kind = NodeKind::of_op(kind);
    n.inputs = SmallVector<InputSource, 4>(inputs);
    n.shape = shape;
    n.dtype = dtype;
    return g.add_node(n);
  }
  NodeId output(std::string name, InputSource from) {
    Node n;
    n.kind = NodeKind::graph_output();
    n.inputs.push_back(from);
    const NodeId id = g.add_node(n);
    g.output_nodes.push_back(id);
    g.output_names.push_back(std::move(name));
    return id;
  }
  InputSource constant(DTypeId dtype, ShapeId shape, std::vector<std::uint8_t> bytes) {
    return InputSource::constant(g.constants.insert(ConstantEntry{std::move(bytes), shape, dtype}));
  }
  InputSource f32s(ShapeId shape, const std::vector<float>& values) {
    std::vector<std::uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return constant(DTypeId::F32, shape, std::move(bytes));
  }
  InputSource i64s(ShapeId shape, const std::vector<std::int64_t>& values) {
    std::vector<std::uint8_t> bytes(values.size() * 8);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return constant(DTypeId::I64, shape, std::move(bytes));
  }
};

// Program text in the native syntax to a graph; fails the test on a
// diagnostic or a lowering error.
inline Graph parse_graph(std::string_view text) {
  auto program = parse_ir_diagnostic(text, 0);
  EXPECT_TRUE(program.has_value()) << (program ? "" : std::string(program.error().message));
  if (!program) return Graph{};
  auto graph = lower_program(std::move(*program));
  EXPECT_TRUE(graph.has_value()) << (graph ? "" : std::string(graph.error().message));
  return graph ? std::move(*graph) : Graph{};
}

// Every section of a compiled archive, decoded.
struct Decoded {
  std::vector<std::uint8_t> kinds;  // section kinds in table order
  std::vector<KernelCall> calls;
  std::optional<PlanSteps> schedule, plan;
  std::optional<WeightStore> weights;
  std::optional<std::vector<ShapeDescriptor>> shapes;
  std::optional<std::vector<CertificateRecord>> certificates;
  std::vector<PortDescriptor> inputs, outputs;
  std::vector<archive::ConstantEntry> constants;

  bool has(SectionKind k) const {
    for (std::uint8_t s : kinds) {
      if (s == static_cast<std::uint8_t>(k)) return true;
    }
    return false;
  }
};

inline Decoded decode_archive(const Bytes& bytes) {
  Decoded d;
  auto loader = TessLoader::from_bytes(bytes);
  EXPECT_TRUE(loader.has_value());
  if (!loader) return d;
  auto plan = loader->into_plan();
  EXPECT_TRUE(plan.has_value());
  if (!plan) return d;
  for (const SectionRef& r : plan->table()) d.kinds.push_back(r.kind);
  auto take = [&](SectionKind k, auto decode, auto& into) {
    if (auto payload = plan->section(k)) {
      auto v = decode(*payload);
      EXPECT_TRUE(v.has_value()) << "section " << static_cast<int>(k);
      if (v) into = std::move(*v);
    }
  };
  take(SectionKind::KernelCalls, decode_calls, d.calls);
  take(SectionKind::Schedule, decode_schedule, d.schedule);
  take(SectionKind::ExecPlan, decode_exec_plan, d.plan);
  take(SectionKind::Weights, decode_weights, d.weights);
  take(SectionKind::ShapeRegistry, decode_shape_registry, d.shapes);
  take(SectionKind::Certificates, decode_certificates, d.certificates);
  take(SectionKind::Inputs, decode_ports, d.inputs);
  take(SectionKind::Outputs, decode_ports, d.outputs);
  take(SectionKind::Constants, decode_constants, d.constants);
  return d;
}

}  // namespace tessary::testing
