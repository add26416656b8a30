#pragma once
// CallKind: the 92 kernel-call variants, and the one table that says, per
// variant, its name, which record it carries, its archive discriminant, its
// signature op and its labelling traits. Everything that needs a per-variant
// fact reads this table, so adding a variant that reuses a record is one new
// enumerator and one new row.
//
// The enumerator values are the in-memory tags that other code (lowering,
// dispatch) names by number: append-only. Variants 0 to 70 follow the op-kind
// names of the graph in order.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessary {

enum class CallKind : std::uint8_t {
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
  DecodeAttention = 71,
  KvCacheWrite = 72,
  DecodeAttentionValid = 73,
  FusedSwiglu = 74,
  Pad = 75,
  Expand = 76,
  Resize = 77,
  Cumsum = 78,
  RotaryEmbedding = 79,
  Clip = 80,
  Lrn = 81,
  Where = 82,
  Gather = 83,
  Cast = 84,
  Dequantize = 85,
  DequantActivation = 86,
  MatmulActivation = 87,
  MatmulAdd = 88,
  MatmulAddActivation = 89,
  MatmulDequant = 90,
  BroadcastBinary = 91,
};

inline constexpr std::size_t kCallKindCount = 92;

// The record shapes. The order is the order of the alternatives of
// CallRecord (kernel_call.h), which checks it at compile time.
enum class RecordKind : std::uint8_t {
  Unary,
  Binary,
  Matmul,
  Gemm,
  Conv,
  Im2col,
  Norm,
  Reduce,
  Layout,
  Transpose,
  Softmax,
  Pool,
  Attention,
  DecodeAttention,
  KvCacheWrite,
  Expand,
  Rope,
  Lrn,
  Where,
  Gather,
  Cast,
  Dequantize,
  DequantActivation,
  MatmulDequant,
  BroadcastBinary,
  Invalid,  // only in the descriptor returned for an out-of-range kind
};

struct CallDescriptor {
  std::string_view name;
  RecordKind record;
  // Archive discriminant. dequantize and matmul_dequant list their plain form
  // here; the codec picks the longer forms from the call's fields.
  std::uint16_t wire;
  // Signature op. matmul_dequant lists its plain form; op_signature picks 116
  // or 117 from the call's fields.
  std::uint16_t op;
  // The result does not depend on the order of the inputs, so labelling sorts
  // the input labels first.
  bool unordered = false;
  // The matmul family's fused epilogue: which of the optional MatmulCall
  // fields this variant carries (on the wire, in buffers and in the signature).
  bool has_act = false;
  bool has_addend = false;
};

namespace call_table_detail {
using R = RecordKind;
inline constexpr std::array<CallDescriptor, kCallKindCount> kTable = {{
    {"neg", R::Unary, 1, 0},
    {"bnot", R::Unary, 2, 1},
    {"succ", R::Unary, 3, 2},
    {"pred", R::Unary, 4, 3},
    {"add", R::Binary, 5, 4, true},
    {"sub", R::Binary, 6, 5},
    {"mul", R::Binary, 7, 6, true},
    {"xor", R::Binary, 8, 7, true},
    {"and", R::Binary, 9, 8, true},
    {"or", R::Binary, 10, 9, true},
    {"relu", R::Unary, 11, 10},
    {"sigmoid", R::Unary, 12, 11},
    {"tanh", R::Unary, 13, 12},
    {"gelu", R::Unary, 14, 13},
    {"silu", R::Unary, 15, 14},
    {"elu", R::Unary, 16, 15},
    {"selu", R::Unary, 17, 16},
    {"exp", R::Unary, 18, 17},
    {"log", R::Unary, 19, 18},
    {"log1p", R::Unary, 20, 19},
    {"sqrt", R::Unary, 21, 20},
    {"reciprocal", R::Unary, 22, 21},
    {"sin", R::Unary, 23, 22},
    {"cos", R::Unary, 24, 23},
    {"tan", R::Unary, 25, 24},
    {"asin", R::Unary, 26, 25},
    {"acos", R::Unary, 27, 26},
    {"atan", R::Unary, 28, 27},
    {"ceil", R::Unary, 29, 28},
    {"floor", R::Unary, 30, 29},
    {"round", R::Unary, 31, 30},
    {"erf", R::Unary, 32, 31},
    {"is_nan", R::Unary, 33, 32},
    {"sign", R::Unary, 34, 33},
    {"abs", R::Unary, 35, 34},
    {"div", R::Binary, 36, 35},
    {"pow", R::Binary, 37, 36},
    {"mod", R::Binary, 38, 37},
    {"min", R::Binary, 39, 38, true},
    {"max", R::Binary, 40, 39, true},
    {"equal", R::Binary, 41, 40, true},
    {"less", R::Binary, 42, 41},
    {"less_or_equal", R::Binary, 43, 42},
    {"greater", R::Binary, 44, 43},
    {"greater_or_equal", R::Binary, 45, 44},
    {"matmul", R::Matmul, 46, 45},
    {"gemm", R::Gemm, 47, 46},
    {"conv2d", R::Conv, 48, 47},
    {"conv_transpose_2d", R::Conv, 49, 48},
    {"im2col", R::Im2col, 109, 108},
    {"col2im", R::Im2col, 110, 109},
    {"layer_norm", R::Norm, 50, 49},
    {"rms_norm", R::Norm, 51, 50},
    {"group_norm", R::Norm, 52, 51},
    {"instance_norm", R::Norm, 53, 52},
    {"add_rms_norm", R::Norm, 54, 53},
    {"reduce_sum", R::Reduce, 55, 54},
    {"reduce_mean", R::Reduce, 56, 55},
    {"reduce_prod", R::Reduce, 57, 56},
    {"reduce_min", R::Reduce, 58, 57},
    {"reduce_max", R::Reduce, 59, 58},
    {"reshape", R::Layout, 60, 59},
    {"transpose", R::Transpose, 61, 60},
    {"concat", R::Binary, 62, 61},
    {"slice", R::Layout, 63, 62},
    {"softmax", R::Softmax, 64, 63},
    {"log_softmax", R::Softmax, 65, 64},
    {"max_pool_2d", R::Pool, 66, 65},
    {"avg_pool_2d", R::Pool, 67, 66},
    {"global_avg_pool", R::Pool, 68, 67},
    {"attention", R::Attention, 69, 68},
    {"decode_attention", R::DecodeAttention, 119, 119},
    {"kv_cache_write", R::KvCacheWrite, 120, 120},
    {"decode_attention_valid", R::DecodeAttention, 121, 121},
    {"fused_swiglu", R::Matmul, 70, 69},
    {"pad", R::Layout, 71, 70},
    {"expand", R::Expand, 72, 71},
    {"resize", R::Expand, 73, 72},
    {"cumsum", R::Reduce, 74, 73},
    {"rotary_embedding", R::Rope, 75, 74},
    {"clip", R::Unary, 76, 75},
    {"lrn", R::Lrn, 77, 76},
    {"where", R::Where, 78, 77},
    {"gather", R::Gather, 114, 114},
    {"cast", R::Cast, 115, 115},
    {"dequantize", R::Dequantize, 105, 104},
    {"dequant_activation", R::DequantActivation, 113, 113},
    {"matmul_activation", R::Matmul, 106, 105, false, true, false},
    {"matmul_add", R::Matmul, 107, 106, false, false, true},
    {"matmul_add_activation", R::Matmul, 108, 107, false, true, true},
    {"matmul_dequant", R::MatmulDequant, 111, 108},
    {"broadcast_binary", R::BroadcastBinary, 112, 112},
}};
inline constexpr CallDescriptor kInvalid{"", R::Invalid, 0, 0};
}  // namespace call_table_detail

// The descriptor of a variant. A value outside 0..91 (only reachable through
// a cast) gets a descriptor whose record is Invalid, never an out-of-range read.
constexpr const CallDescriptor& call_descriptor(CallKind kind) {
  auto i = static_cast<std::size_t>(kind);
  return i < kCallKindCount ? call_table_detail::kTable[i] : call_table_detail::kInvalid;
}

constexpr std::string_view call_kind_name(CallKind kind) { return call_descriptor(kind).name; }

// True for add, mul, xor, and, or, min, max and equal.
constexpr bool is_unordered(CallKind kind) { return call_descriptor(kind).unordered; }

}  // namespace tessary
