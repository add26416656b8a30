#pragma once
// Per-kind attribute records kept in the graph's side tables, one record per
// node and table at most.
#include <cstdint>

#include "types/weight_layout.h"

namespace tessary {

enum class ActQuant : std::uint8_t { W8A32 = 0, W8A8TokenSym = 1 };

// dequantize
struct QuantAttrs {
  float scale = 0.0f;
  std::int32_t zero_point = 0;
  std::int32_t axis = -1;  // -1: one scale for the whole tensor
  std::uint8_t quant_dtype = 0;  // DTypeId tag of the quantized elements
  WeightLayout weight_layout = WeightLayout::RowMajor;
  ActQuant act_quant = ActQuant::W8A32;
  friend bool operator==(const QuantAttrs&, const QuantAttrs&) = default;
};

// conv2d, conv_transpose_2d, im2col, col2im, max_pool_2d, avg_pool_2d
struct ConvAttrs {
  std::uint32_t stride_h = 1;
  std::uint32_t stride_w = 1;
  std::uint32_t pad_h = 0;
  std::uint32_t pad_w = 0;
  std::uint32_t kernel_h = 0;
  std::uint32_t kernel_w = 0;
  friend bool operator==(const ConvAttrs&, const ConvAttrs&) = default;
};

// lrn
struct LrnAttrs {
  std::uint32_t size = 1;
  float alpha = 0.0001f;
  float beta = 0.75f;
  float bias = 1.0f;
  friend bool operator==(const LrnAttrs&, const LrnAttrs&) = default;
};

// gemm
struct GemmAttrs {
  float alpha = 1.0f;
  float beta = 1.0f;
  friend bool operator==(const GemmAttrs&, const GemmAttrs&) = default;
};

// group_norm
struct NormAttrs {
  std::uint32_t num_groups = 0;
  friend bool operator==(const NormAttrs&, const NormAttrs&) = default;
};

// Three-state byte of the reduce and attention records: 2 means no record.
inline constexpr std::uint8_t kAttrAbsent = 2;

// reduce_sum, reduce_mean, reduce_prod, reduce_min, reduce_max
struct ReduceAttrs {
  std::uint32_t axes_mask = 0;  // bit i set: axis i is reduced
  std::uint8_t keepdims = 0;    // 0 or 1; 2 reports an absent record
  friend bool operator==(const ReduceAttrs&, const ReduceAttrs&) = default;
};

// gather
struct GatherAttrs {
  std::int32_t axis = 0;
  friend bool operator==(const GatherAttrs&, const GatherAttrs&) = default;
};

// attention
struct AttentionAttrs {
  std::uint32_t scale_bits = 0;  // binary32 bit pattern of the scale
  std::uint8_t causal = 0;       // 0 or 1; 2 reports an absent record
  friend bool operator==(const AttentionAttrs&, const AttentionAttrs&) = default;
};

}  // namespace tessary
