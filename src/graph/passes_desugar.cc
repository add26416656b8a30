#include <optional>
#include <utility>
#include <vector>

#include "graph/passes.h"
#include "graph/passes_renumber.h"

namespace tessary {

namespace {

bool is_composite(const Node& node) {
  return (node.kind.is_op(OpKind::FusedSwiglu) || node.kind.is_op(OpKind::Clip)) && node.inputs.size() > 2;
}

Node op_node(OpKind kind, std::initializer_list<InputSource> operands, const Node& like) {
  Node n;
  n.inputs = SmallVector<InputSource, 4>(operands);
  n.kind = NodeKind::of_op(kind);
  n.shape = like.shape;
  n.dtype = like.dtype;
  return n;
}

}  // namespace

std::size_t desugar_composites(Graph& graph) {
  bool any = false;
  for (const Node& node : graph.nodes) any = any || is_composite(node);
  if (!any) return 0;

  const std::size_t old_count = graph.nodes.size();
  std::vector<Node> old = std::move(graph.nodes);
  graph.nodes.clear();
  graph.nodes.reserve(old_count + 3);
  // new_id[i]: the new node that stands for old node i.
  std::vector<NodeId> new_id(old_count);
  for (std::size_t i = 0; i < old_count; ++i) new_id[i] = static_cast<NodeId>(i);

  std::size_t rewritten = 0;
  for (std::size_t i = 0; i < old_count; ++i) {
    Node node = std::move(old[i]);
    for (InputSource& in : node.inputs) {
      // Operands name earlier nodes only; one naming a node past the end is
      // left as it is rather than read out of range.
      if (in.tag == InputSourceTag::Node && in.payload < old_count) in.payload = new_id[in.payload];
    }
    if (!is_composite(node)) {
      new_id[i] = graph.add_node(std::move(node));
      continue;
    }
    ++rewritten;
    const InputSource x = node.inputs[0];
    if (node.kind.op == OpKind::FusedSwiglu) {
      const NodeId gate = graph.add_node(op_node(OpKind::Matmul, {x, node.inputs[1]}, node));
      const NodeId act = graph.add_node(op_node(OpKind::Silu, {InputSource::node(gate)}, node));
      const NodeId up = graph.add_node(op_node(OpKind::Matmul, {x, node.inputs[2]}, node));
      new_id[i] = graph.add_node(op_node(OpKind::Mul, {InputSource::node(act), InputSource::node(up)}, node));
    } else {
      const NodeId low = graph.add_node(op_node(OpKind::Max, {x, node.inputs[1]}, node));
      new_id[i] = graph.add_node(op_node(OpKind::Min, {InputSource::node(low), node.inputs[2]}, node));
    }
  }

  passes_detail::renumber_graph(graph, [&](NodeId id) -> std::optional<NodeId> {
    if (id >= old_count) return std::nullopt;
    return new_id[id];
  });
  graph.schedule.reset();
  return rewritten;
}

}  // namespace tessary
