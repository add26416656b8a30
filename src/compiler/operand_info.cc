#include "compiler/operand_info.h"

namespace tessary {

namespace {

// The node or constant entry an operand reads, as (shape id, dtype).
struct Source {
  ShapeId shape;
  DTypeId dtype;
};

std::optional<Source> resolve(const Graph& graph, const Node& node, std::size_t position) {
  if (position >= node.inputs.size()) return std::nullopt;
  const InputSource in = node.inputs[position];
  switch (in.tag) {
    case InputSourceTag::Node:
      if (const Node* n = graph.node(in.payload)) return Source{n->shape, n->dtype};
      return std::nullopt;
    case InputSourceTag::Constant:
      if (const ConstantEntry* c = graph.constants.get(in.payload)) return Source{c->shape, c->dtype};
      return std::nullopt;
    case InputSourceTag::GraphInput:
      if (const Node* n = graph_input_node(graph, in.payload)) return Source{n->shape, n->dtype};
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

const ShapeDescriptor* operand_shape(const Graph& graph, const Node& node, std::size_t position) {
  const std::optional<Source> s = resolve(graph, node, position);
  return s ? graph.shapes.get(s->shape) : nullptr;
}

std::optional<DTypeId> operand_dtype(const Graph& graph, const Node& node, std::size_t position) {
  const std::optional<Source> s = resolve(graph, node, position);
  if (!s) return std::nullopt;
  return s->dtype;
}

const ConstantEntry* operand_constant(const Graph& graph, const Node& node, std::size_t position) {
  if (position >= node.inputs.size()) return nullptr;
  const InputSource in = node.inputs[position];
  return in.tag == InputSourceTag::Constant ? graph.constants.get(in.payload) : nullptr;
}

}  // namespace tessary
