#pragma once
// Nodes of the tensor graph and the operand references between them.
#include <cstdint>

#include "graph/op_kind.h"
#include "graph/small_vector.h"
#include "types/dtype.h"

namespace tessary {

using NodeId = std::uint32_t;
using ShapeId = std::uint32_t;     // index into the ShapeRegistry
using ConstantId = std::uint32_t;  // index into the ConstantStore

enum class InputSourceTag : std::uint32_t {
  Node = 0,        // payload: the NodeId whose output is read
  Constant = 1,    // payload: a constant index
  GraphInput = 2,  // payload: a position in the graph's input list
};

// One operand of a node: a 32-bit tag and a 32-bit payload.
struct InputSource {
  InputSourceTag tag = InputSourceTag::Node;
  std::uint32_t payload = 0;

  static constexpr InputSource node(NodeId id) { return {InputSourceTag::Node, id}; }
  static constexpr InputSource constant(ConstantId index) { return {InputSourceTag::Constant, index}; }
  static constexpr InputSource graph_input(std::uint32_t position) {
    return {InputSourceTag::GraphInput, position};
  }

  friend constexpr bool operator==(const InputSource&, const InputSource&) = default;
};
static_assert(sizeof(InputSource) == 8);

enum class NodeTag : std::uint16_t {
  Op = 0,
  GraphInput = 1,
  GraphOutput = 2,
  Constant = 3,
};

// What a node is: an op of some kind, a graph input or output, or a node that
// stands for a constant. `op` is meaningful for Op only, `constant` for
// Constant only.
struct NodeKind {
  NodeTag tag = NodeTag::Op;
  OpKind op = OpKind::Neg;
  ConstantId constant = 0;

  static constexpr NodeKind of_op(OpKind kind) { return {NodeTag::Op, kind, 0}; }
  static constexpr NodeKind graph_input() { return {NodeTag::GraphInput, OpKind::Neg, 0}; }
  static constexpr NodeKind graph_output() { return {NodeTag::GraphOutput, OpKind::Neg, 0}; }
  static constexpr NodeKind of_constant(ConstantId index) { return {NodeTag::Constant, OpKind::Neg, index}; }

  constexpr bool is_op() const { return tag == NodeTag::Op; }
  constexpr bool is_op(OpKind kind) const { return tag == NodeTag::Op && op == kind; }

  friend constexpr bool operator==(const NodeKind& a, const NodeKind& b) {
    if (a.tag != b.tag) return false;
    if (a.tag == NodeTag::Op) return a.op == b.op;
    if (a.tag == NodeTag::Constant) return a.constant == b.constant;
    return true;
  }
};

struct Node {
  SmallVector<InputSource, 4> inputs;  // operand order of the op
  NodeKind kind;
  // 0 when no shape was declared. Consumers index the registry with it, so 0
  // reads as the first registered shape whenever the registry is not empty.
  ShapeId shape = 0;
  DTypeId dtype = DTypeId::F32;

  friend bool operator==(const Node&, const Node&) = default;
};

}  // namespace tessary
