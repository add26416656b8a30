#pragma once
// ShapeArgs: the flat record of integer shape arguments that kernel lowering
// reads, derived from a node's operand and result shapes and its attribute
// records. Deriving them is also where the shape rules of matmul, attention
// and key-value cache writes are checked.
//
// Every dimension is taken from a 64-bit shape and clamped to 2^32 - 1;
// products are formed in 64 bits (saturating) and clamped the same way.
// Absent shapes are not errors in general: they leave members at 0.
#include <cstdint>

#include "compiler/source/compile_error.h"
#include "graph/graph.h"

namespace tessary {

struct ShapeArgs {
  // matmul and gemm: [m, k] x [k, n]
  std::uint32_t m = 0, k = 0, n = 0;
  // first operand as an image [batch, channels, height, width]; the norms
  // and attention reuse batch and channels
  std::uint32_t batch = 0, channels = 0, height = 0, width = 0;
  // second operand as a weight [out_channels, _, kernel_h, kernel_w]
  std::uint32_t out_channels = 0, kernel_h = 0, kernel_w = 0;
  // result as an image [_, _, out_height, out_width]
  std::uint32_t out_height = 0, out_width = 0;
  // the conv record; strides read 0 as 1 and are 1 without a record
  std::uint32_t stride_h = 0, stride_w = 0, pad_h = 0, pad_w = 0;
  // row-wise norms and softmax; group and instance norm
  std::uint32_t rows = 0, features = 0, per_sample = 0;
  // attention
  std::uint32_t heads = 0, query_rows = 0, head_dim = 0, kv_heads = 0;
  std::uint32_t scale_bits = 0;
  bool causal = false;
  // decode attention (attention with six or more operands); new_rows is
  // shared with the key-value cache write
  std::uint32_t decode_q_rows = 0, key_rows = 0, new_rows = 0;
  bool valid_len_form = false;
  // key-value cache write
  std::uint32_t planes = 0, bucket_rows = 0, row_bytes = 0;
  // gemm scalars as binary32 bits (1.0 without a record)
  std::uint32_t alpha_bits = 0, beta_bits = 0;
  // the node's own element count (total_elements of its shape, 0 when absent)
  std::uint64_t elements = 0;

  // Only op nodes are derived; any other node yields the all-zero record.
  // Fails with a shape violation for the matmul rules and a graph validation
  // for the decode-attention and cache-write rules.
  static CompileResult<ShapeArgs> from_graph(const Graph& graph, NodeId node_id, const Node& node);

  friend bool operator==(const ShapeArgs&, const ShapeArgs&) = default;
};

}  // namespace tessary
