// Stages 3 and 4: node byte sizes and the plan levels, plus the buffer
// identities the later stages share.
#include <algorithm>

#include "compiler/compiler_stages.h"
#include "compiler/operand_info.h"

namespace tessary::compiler_detail {

std::vector<std::uint64_t> node_byte_sizes(const Graph& graph) {
  std::vector<std::uint64_t> sizes(graph.nodes.size(), 0);
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const Node& node = graph.nodes[i];
    const ShapeDescriptor* shape = graph.shapes.get(node.shape);
    const std::uint64_t elements = shape != nullptr ? shape->total_elements() : 0;
    // A tag outside the table has no storage rule; it is sized one byte per
    // element, as its ports are.
    sizes[i] = storage_bytes_u64(node.dtype, elements).value_or(elements);
  }
  return sizes;
}

std::vector<std::vector<NodeId>> plan_levels(const Graph& graph) {
  std::vector<std::vector<NodeId>> levels;
  if (!graph.schedule) return levels;
  const std::size_t count = graph.nodes.size();

  // consumed[i]: some node other than a graph output names node i.
  std::vector<bool> consumed(count, false);
  for (const Node& node : graph.nodes) {
    if (node.kind.tag == NodeTag::GraphOutput) continue;
    for (const InputSource& in : node.inputs) {
      if (in.tag == InputSourceTag::Node && in.payload < count) consumed[in.payload] = true;
    }
  }
  auto deferrable = [&](NodeId id) {
    return id < count && graph.nodes[id].kind.is_op(OpKind::KvCacheWrite) && !consumed[id];
  };

  std::vector<NodeId> deferred;
  for (const Wave& wave : *graph.schedule) {
    std::vector<NodeId> level(wave.begin(), wave.end());
    const auto first = std::find_if(level.begin(), level.end(), deferrable);
    if (first != level.end()) {
      std::vector<NodeId> kept(level.begin(), first);
      for (auto it = first; it != level.end(); ++it) {
        (deferrable(*it) ? deferred : kept).push_back(*it);
      }
      level = std::move(kept);
    }
    levels.push_back(std::move(level));
  }
  // A cache write whose result only leaves the graph runs after everything
  // else, so no op of the run sees the cache half updated.
  if (!deferred.empty()) levels.push_back(std::move(deferred));
  return levels;
}

BufferRef operand_buffer(const Graph& graph, std::span<const std::uint64_t> sizes, InputSource operand) {
  const auto node_count = static_cast<std::uint32_t>(graph.nodes.size());
  switch (operand.tag) {
    case InputSourceTag::Node:
      if (operand.payload < node_count) return BufferRef{0, sizes[operand.payload], operand.payload};
      break;
    case InputSourceTag::Constant:
      if (const ConstantEntry* c = graph.constants.get(operand.payload)) {
        return BufferRef{0, c->bytes.size(), node_count + operand.payload};
      }
      break;
    case InputSourceTag::GraphInput: {
      const auto inputs = graph.inputs();
      if (operand.payload < inputs.size() && inputs[operand.payload] < node_count) {
        const NodeId id = inputs[operand.payload];
        return BufferRef{0, sizes[id], id};
      }
      break;
    }
  }
  return BufferRef{0, 0, 0};
}

std::vector<bool> output_slots(const Graph& graph, std::span<const std::uint64_t> sizes) {
  const std::size_t slot_count = graph.nodes.size() + graph.constants.size();
  std::vector<bool> keep(slot_count, false);
  for (NodeId out : graph.outputs()) {
    if (out < slot_count) keep[out] = true;
    if (const Node* n = graph.node(out); n != nullptr && !n->inputs.empty()) {
      const std::uint32_t slot = operand_buffer(graph, sizes, n->inputs[0]).slot;
      if (slot < slot_count) keep[slot] = true;
    }
  }
  return keep;
}

SlotUses SlotUses::count(std::span<const KernelCall> calls, std::size_t slot_count) {
  SlotUses u;
  u.total.assign(slot_count, 0);
  u.reads.assign(slot_count, 0);
  u.writes.assign(slot_count, 0);
  u.last_reader.assign(slot_count, std::nullopt);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const CallBuffers refs = buffers(calls[i]);
    for (std::size_t r = 0; r < refs.size(); ++r) {
      const std::uint32_t slot = refs[r].slot;
      if (slot == kSlotNone || slot >= slot_count) continue;
      ++u.total[slot];
      if (r + 1 < refs.size()) {
        ++u.reads[slot];
        u.last_reader[slot] = i;
      } else {
        ++u.writes[slot];
      }
    }
  }
  return u;
}

}  // namespace tessary::compiler_detail
