// Which emitter serves which op kind, and how many input terms it starts
// from.
#include <array>
#include <optional>

#include "ops/op_emitters.h"

namespace tessary {

std::uint8_t input_term_count(OpKind kind) {
  switch (kind) {
    case OpKind::Gemm:
    case OpKind::LayerNorm:
    case OpKind::RmsNorm:
    case OpKind::GroupNorm:
    case OpKind::InstanceNorm:
    case OpKind::Attention:
    case OpKind::RotaryEmbedding:
    case OpKind::Where:
    case OpKind::KvCacheWrite:
      return 3;
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul:
    case OpKind::Xor:
    case OpKind::And:
    case OpKind::Or:
    case OpKind::Div:
    case OpKind::Pow:
    case OpKind::Mod:
    case OpKind::Min:
    case OpKind::Max:
    case OpKind::Equal:
    case OpKind::Less:
    case OpKind::LessOrEqual:
    case OpKind::Greater:
    case OpKind::GreaterOrEqual:
    case OpKind::Matmul:
    case OpKind::Conv2d:
    case OpKind::ConvTranspose2d:
    case OpKind::AddRmsNorm:
    case OpKind::Concat:
    case OpKind::FusedSwiglu:
    case OpKind::Gather:
      return 2;
    default:
      return 1;
  }
}

namespace {

// The operation code of the primitive emitter for a kind, or nothing when the
// kind has an emitter of its own (or none at all).
std::optional<OpKind> primitive_code(OpKind kind) {
  switch (kind) {
    case OpKind::Neg:
    case OpKind::Bnot:
    case OpKind::Succ:
    case OpKind::Pred:
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul:
    case OpKind::Xor:
    case OpKind::And:
    case OpKind::Or:
      return kind;
    case OpKind::Min:
    case OpKind::Max:
      return OpKind::Sub;
    case OpKind::Ceil:
    case OpKind::Floor:
    case OpKind::IsNan:
    case OpKind::Sign:
      return OpKind::And;
    case OpKind::Where:
    case OpKind::Cast:
      return OpKind::Mul;
    default:
      return std::nullopt;
  }
}

Emitter emitter_of(OpKind kind) {
  switch (kind) {
    case OpKind::Relu: return emit_relu;
    case OpKind::Sigmoid: return emit_sigmoid;
    case OpKind::Tanh: return emit_tanh;
    case OpKind::Gelu: return emit_gelu;
    case OpKind::Silu: return emit_silu;
    case OpKind::Elu: return emit_elu;
    case OpKind::Selu: return emit_selu;
    case OpKind::Exp:
    case OpKind::Log:
    case OpKind::Sqrt:
    case OpKind::Erf:
    case OpKind::Resize:
      return emit_erf;
    case OpKind::Log1p: return emit_log1p;
    case OpKind::Reciprocal: return emit_reciprocal;
    case OpKind::Tan: return emit_tan;
    case OpKind::Round: return emit_round;
    case OpKind::Abs: return emit_abs;
    case OpKind::Sin:
    case OpKind::Cos:
    case OpKind::Asin:
    case OpKind::Acos:
    case OpKind::Atan:
    case OpKind::ReduceSum:
    case OpKind::ReduceProd:
    case OpKind::ReduceMin:
    case OpKind::ReduceMax:
      return emit_cordic;
    case OpKind::Div: return emit_div;
    case OpKind::Pow: return emit_pow;
    case OpKind::Mod: return emit_mod;
    case OpKind::Equal: return emit_equal;
    case OpKind::Less:
    case OpKind::LessOrEqual:
    case OpKind::Greater:
    case OpKind::GreaterOrEqual:
      return emit_compare;
    case OpKind::Matmul: return emit_matmul;
    case OpKind::Gemm: return emit_gemm;
    case OpKind::Conv2d:
    case OpKind::ConvTranspose2d:
      return emit_conv_body;
    case OpKind::LayerNorm:
    case OpKind::GroupNorm:
    case OpKind::InstanceNorm:
      return emit_norm_body;
    case OpKind::RmsNorm: return emit_rms_norm;
    case OpKind::AddRmsNorm: return emit_add_rms_norm;
    case OpKind::ReduceMean:
    case OpKind::AvgPool2d:
    case OpKind::GlobalAvgPool:
      return emit_avg_pool_2d;
    case OpKind::MaxPool2d: return emit_max_pool_2d;
    case OpKind::Softmax: return emit_softmax;
    case OpKind::LogSoftmax: return emit_log_softmax;
    case OpKind::Attention: return emit_attention;
    case OpKind::FusedSwiglu:
    case OpKind::Lrn:
      return emit_fused_swiglu;
    case OpKind::Cumsum: return emit_cumsum;
    case OpKind::RotaryEmbedding: return emit_rotary_embedding;
    case OpKind::Clip: return emit_clip;
    case OpKind::Dequantize: return emit_dequantize;
    default:
      return nullptr;  // layout and data-movement kinds: input terms only
  }
}

}  // namespace

std::expected<void, EmitOverflow> emit_node_terms(OpKind kind, std::uint32_t width, TermArena& arena) {
  arena.clear();
  std::array<TermIndex, 3> inputs{};
  const std::uint8_t count = input_term_count(kind);
  for (std::uint8_t i = 0; i < count; ++i) {
    EmitResult t = arena.push(Term{static_cast<std::uint16_t>(TermOp::Input), 0, 0, 0, i});
    if (!t) return std::unexpected(t.error());
    inputs[i] = *t;
  }
  const std::span<const TermIndex> in(inputs.data(), count);
  if (const std::optional<OpKind> prim = primitive_code(kind)) {
    EmitResult r = emit_primitive(arena, in, static_cast<std::uint16_t>(*prim));
    if (!r) return std::unexpected(r.error());
    return {};
  }
  if (Emitter e = emitter_of(kind)) {
    if (EmitResult r = e(arena, in, width); !r) return std::unexpected(r.error());
  }
  return {};
}

}  // namespace tessary
