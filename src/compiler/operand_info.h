#pragma once
// What the back end reads about a node's operands: their shapes, element
// types and, for constant operands, their entries. Every lookup is bounds
// checked; a reference to nothing reads as absent.
#include <cstddef>
#include <optional>

#include "graph/graph.h"

namespace tessary {

// The shape an operand resolves to: a node operand through that node's shape
// identifier, a constant through the constant's, a graph-input operand
// through the input node at that position. nullptr when the operand position
// is past the node's operands or anything on the way is out of range.
const ShapeDescriptor* operand_shape(const Graph& graph, const Node& node, std::size_t position);

// The node's own (result) shape; nullptr when its identifier is out of range.
inline const ShapeDescriptor* result_shape(const Graph& graph, const Node& node) {
  return graph.shapes.get(node.shape);
}

// The element type of the value an operand names.
std::optional<DTypeId> operand_dtype(const Graph& graph, const Node& node, std::size_t position);

// The graph constant an operand names directly (a constant operand), or
// nullptr.
const ConstantEntry* operand_constant(const Graph& graph, const Node& node, std::size_t position);

// The node a graph-input position resolves to, or nullptr.
inline const Node* graph_input_node(const Graph& graph, std::uint32_t position) {
  const auto inputs = graph.inputs();
  return position < inputs.size() ? graph.node(inputs[position]) : nullptr;
}

}  // namespace tessary
