#include "graph/op_kind.h"

#include <array>

namespace tessary {

namespace {

// Indexed by discriminant.
constexpr std::array<std::string_view, kOpKindCount> kNames = {
    "neg",          "bnot",              "succ",       "pred",
    "add",          "sub",               "mul",        "xor",
    "and",          "or",                "relu",       "sigmoid",
    "tanh",         "gelu",              "silu",       "elu",
    "selu",         "exp",               "log",        "log1p",
    "sqrt",         "reciprocal",        "sin",        "cos",
    "tan",          "asin",              "acos",       "atan",
    "ceil",         "floor",             "round",      "erf",
    "is_nan",       "sign",              "abs",        "div",
    "pow",          "mod",               "min",        "max",
    "equal",        "less",              "less_or_equal", "greater",
    "greater_or_equal", "matmul",        "gemm",       "conv2d",
    "conv_transpose_2d", "im2col",       "col2im",     "layer_norm",
    "rms_norm",     "group_norm",        "instance_norm", "add_rms_norm",
    "reduce_sum",   "reduce_mean",       "reduce_prod", "reduce_min",
    "reduce_max",   "reshape",           "transpose",  "concat",
    "slice",        "softmax",           "log_softmax", "max_pool_2d",
    "avg_pool_2d",  "global_avg_pool",   "attention",  "fused_swiglu",
    "pad",          "expand",            "resize",     "cumsum",
    "rotary_embedding", "clip",          "lrn",        "where",
    "gather",       "cast",              "dequantize", "kv_cache_write",
};

}  // namespace

std::string_view op_kind_name(OpKind kind) noexcept {
  auto i = static_cast<std::uint16_t>(kind);
  return i < kOpKindCount ? kNames[i] : std::string_view{};
}

std::optional<OpKind> op_kind_from_name(std::string_view name) noexcept {
  for (std::uint16_t i = 0; i < kOpKindCount; ++i) {
    if (kNames[i] == name) return static_cast<OpKind>(i);
  }
  return std::nullopt;
}

std::optional<OpKind> op_kind_from_u16(std::uint16_t value) noexcept {
  if (value >= kOpKindCount) return std::nullopt;
  return static_cast<OpKind>(value);
}

bool is_conv_group(OpKind kind) noexcept {
  switch (kind) {
    case OpKind::Conv2d:
    case OpKind::ConvTranspose2d:
    case OpKind::Im2col:
    case OpKind::Col2im:
    case OpKind::MaxPool2d:
    case OpKind::AvgPool2d:
      return true;
    default:
      return false;
  }
}

bool is_reduce_group(OpKind kind) noexcept {
  switch (kind) {
    case OpKind::ReduceSum:
    case OpKind::ReduceMean:
    case OpKind::ReduceProd:
    case OpKind::ReduceMin:
    case OpKind::ReduceMax:
      return true;
    default:
      return false;
  }
}

}  // namespace tessary
