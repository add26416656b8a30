#pragma once
// Kernel lowering: one graph op node to one KernelCall. lower::lower picks
// the call variant from the op kind and fills its parameters from the
// ShapeArgs, the node's attribute records and its buffers. It is a pure
// function of its arguments (no allocation, lookup or I/O); what only the
// graph can tell (operand constants, operand shapes, side tables) is filled
// afterwards by complete_call (lower_completion.h).
#include <cstdint>
#include <optional>
#include <span>

#include "compiler/lower_shape_args.h"
#include "compiler/source/compile_error.h"
#include "compute/kernel_call.h"
#include "graph/graph.h"

namespace tessary {

// What the pipeline derives for a dequantize node before lowering it.
struct DequantInputs {
  std::uint32_t scale_count = 0;    // the dimension at the quantization axis
  std::uint32_t scale_divisor = 0;  // product of the dimensions after the axis
  BufferRef codebook{};             // the 4th operand when it is a graph constant
};

// The attribute records and compile settings lowering reads for one node.
struct NodeAttrs {
  std::optional<QuantAttrs> quant;
  AttentionAttrs attention{0, kAttrAbsent};
  DequantInputs dequant;
  std::uint16_t width = 0;  // compile width, low 16 bits: the aux of element-wise calls

  static NodeAttrs from_graph(const Graph& graph, NodeId node_id, std::uint32_t width);
};

namespace lower {

// `buffers` holds the node's operand buffers in operand order followed by
// its own output buffer. An operand the node does not have reads as (offset
// 0, length 0, slot 0). Fails with a graph validation for a decode attention
// node that asks for causal masking, with an unknown-op error for a kind
// outside the table, and with a lowering refusal for a node that is not an op.
CompileResult<KernelCall> lower(std::span<const BufferRef> buffers, const ShapeArgs& args, const Node& node,
                                const NodeAttrs& attrs);

}  // namespace lower

}  // namespace tessary
