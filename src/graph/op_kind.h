#pragma once
// OpKind: the 84 tensor operations of the graph. The discriminants travel in
// archives (kernel-call variants 0 to 70 share them) and the names are the
// vocabulary of the program text: both are append-only.
#include <cstdint>
#include <optional>
#include <string_view>

namespace tessary {

enum class OpKind : std::uint16_t {
  Neg = 0,
  Bnot = 1,
  Succ = 2,
  Pred = 3,
  Add = 4,
  Sub = 5,
  Mul = 6,
  Xor = 7,
  And = 8,
  Or = 9,
  Relu = 10,
  Sigmoid = 11,
  Tanh = 12,
  Gelu = 13,
  Silu = 14,
  Elu = 15,
  Selu = 16,
  Exp = 17,
  Log = 18,
  Log1p = 19,
  Sqrt = 20,
  Reciprocal = 21,
  Sin = 22,
  Cos = 23,
  Tan = 24,
  Asin = 25,
  Acos = 26,
  Atan = 27,
  Ceil = 28,
  Floor = 29,
  Round = 30,
  Erf = 31,
  IsNan = 32,
  Sign = 33,
  Abs = 34,
  Div = 35,
  Pow = 36,
  Mod = 37,
  Min = 38,
  Max = 39,
  Equal = 40,
  Less = 41,
  LessOrEqual = 42,
  Greater = 43,
  GreaterOrEqual = 44,
  Matmul = 45,
  Gemm = 46,
  Conv2d = 47,
  ConvTranspose2d = 48,
  Im2col = 49,
  Col2im = 50,
  LayerNorm = 51,
  RmsNorm = 52,
  GroupNorm = 53,
  InstanceNorm = 54,
  AddRmsNorm = 55,
  ReduceSum = 56,
  ReduceMean = 57,
  ReduceProd = 58,
  ReduceMin = 59,
  ReduceMax = 60,
  Reshape = 61,
  Transpose = 62,
  Concat = 63,
  Slice = 64,
  Softmax = 65,
  LogSoftmax = 66,
  MaxPool2d = 67,
  AvgPool2d = 68,
  GlobalAvgPool = 69,
  Attention = 70,
  FusedSwiglu = 71,
  Pad = 72,
  Expand = 73,
  Resize = 74,
  Cumsum = 75,
  RotaryEmbedding = 76,
  Clip = 77,
  Lrn = 78,
  Where = 79,
  Gather = 80,
  Cast = 81,
  Dequantize = 82,
  KvCacheWrite = 83,
};

inline constexpr std::uint16_t kOpKindCount = 84;

// The text name of a kind, e.g. "add_rms_norm"; empty for a value outside the
// table (only reachable through a cast).
std::string_view op_kind_name(OpKind kind) noexcept;

// The kind whose name equals `name` byte for byte, scanning discriminants in
// ascending order; names are case-sensitive.
std::optional<OpKind> op_kind_from_name(std::string_view name) noexcept;

// The kind with discriminant `value`, if it is in the table.
std::optional<OpKind> op_kind_from_u16(std::uint16_t value) noexcept;

// Attribute groups shared by the text syntax and the lowering.
bool is_conv_group(OpKind kind) noexcept;    // conv2d, conv_transpose_2d, im2col, col2im, pools
bool is_reduce_group(OpKind kind) noexcept;  // reduce_sum .. reduce_max

}  // namespace tessary
