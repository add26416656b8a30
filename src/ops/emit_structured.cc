// Emitters of the kinds with structure beyond one element: products,
// convolutions, normalisations, pooling, softmax, attention and the rest.
#include "ops/emit_parts.h"
#include "ops/op_emitters.h"

namespace tessary {

using namespace emit_detail;

EmitResult emit_matmul(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(matmul_of(b, arg(in, 0), arg(in, 1), width));
}

// alpha (a b) + beta c.
EmitResult emit_gemm(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex product = matmul_of(b, arg(in, 0), arg(in, 1), width);
  const TermIndex scaled_c = b.mul(arg(in, 2), b.constant(1.0f));
  return b.done(b.mul_add(product, b.constant(1.0f), scaled_c));
}

// The weights times the column matrix of the input's windows.
EmitResult emit_conv_body(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex columns = b.unary(code(TermOp::Window), arg(in, 0), 2);
  return b.done(matmul_of(b, arg(in, 1), columns, width));
}

namespace {

// (x - mean) / sqrt(var + eps).
TermIndex standardize(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex centered = b.sub(x, mean_of(b, x, width));
  const TermIndex var = mean_of(b, b.mul(centered, centered), width);
  const TermIndex inv = rsqrt_of(b, b.add(var, b.constant(1e-5f)), width);
  return b.mul(centered, inv);
}

// x / sqrt(mean(x^2) + eps).
TermIndex rms_scale(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex ms = mean_of(b, b.mul(x, x), width);
  return b.mul(x, rsqrt_of(b, b.add(ms, b.constant(1e-6f)), width));
}

}  // namespace

// gamma standardize(x) + beta.
EmitResult emit_norm_body(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex n = standardize(b, arg(in, 0), width);
  return b.done(b.mul_add(n, arg(in, 1), arg(in, 2)));
}

EmitResult emit_rms_norm(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(b.mul(rms_scale(b, arg(in, 0), width), arg(in, 1)));
}

// rms_norm(x + residual); the gamma input is the last seeded term.
EmitResult emit_add_rms_norm(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex sum = b.add(arg(in, 0), arg(in, 1));
  return b.done(b.mul(rms_scale(b, sum, width), arg(in, 1)));
}

EmitResult emit_avg_pool_2d(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex windows = b.unary(code(TermOp::Window), arg(in, 0), 2);
  return b.done(mean_of(b, windows, width));
}

EmitResult emit_max_pool_2d(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex windows = b.unary(code(TermOp::Window), arg(in, 0), 2);
  return b.done(reduce_tree(b, windows, TermOp::ReduceMax, width));
}

EmitResult emit_softmax(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const SoftmaxParts p = softmax_parts(b, arg(in, 0), width);
  return b.done(b.mul(p.exps, reciprocal_of(b, p.sum, width)));
}

// (x - max) - ln(sum(exp(x - max))).
EmitResult emit_log_softmax(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const SoftmaxParts p = softmax_parts(b, arg(in, 0), width);
  return b.done(b.sub(p.shifted, log_of(b, p.sum, width)));
}

// softmax(scale q k^T) v.
EmitResult emit_attention(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex scores = matmul_of(b, arg(in, 0), arg(in, 1), width);
  const TermIndex scaled = b.mul(scores, b.constant(1.0f));
  const SoftmaxParts p = softmax_parts(b, scaled, width);
  const TermIndex weights = b.mul(p.exps, reciprocal_of(b, p.sum, width));
  return b.done(matmul_of(b, weights, arg(in, 2), width));
}

// silu(x w) * (x w): both products read the one weight input seeded for the
// kind.
EmitResult emit_fused_swiglu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex x = arg(in, 0);
  const TermIndex gate = matmul_of(b, x, arg(in, 1), width);
  const TermIndex act = b.mul(gate, sigmoid_of(b, gate, width));
  const TermIndex up = matmul_of(b, x, arg(in, 1), width);
  return b.done(b.mul(act, up));
}

// Inclusive prefix sum: log steps of adding a copy shifted by 2^level.
EmitResult emit_cumsum(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  TermIndex acc = arg(in, 0);
  for (std::uint32_t level = 0; level < log_steps(width); ++level) {
    acc = b.add(acc, b.unary(code(TermOp::Shift), acc, 1u << (level & 31)));
  }
  return b.done(acc);
}

// x cos + rotate_half(x) sin.
EmitResult emit_rotary_embedding(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex x = arg(in, 0);
  const TermIndex rotated = b.neg(b.unary(code(TermOp::Shift), x, 1));
  const TermIndex direct = b.mul(x, arg(in, 1));
  return b.done(b.mul_add(rotated, arg(in, 2), direct));
}

// min(max(x, lo), hi) with the bounds as constants of the node.
EmitResult emit_clip(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex x = arg(in, 0);
  const TermIndex lo = b.constant(-3.40282347e38f);
  const TermIndex hi = b.constant(3.40282347e38f);
  const TermIndex low = b.select(b.less(x, lo), lo, x);
  return b.done(b.select(b.less(hi, low), hi, low));
}

// (q - zero_point) scale.
EmitResult emit_dequantize(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex q = b.unary(code(TermOp::Convert), arg(in, 0), static_cast<std::uint32_t>(8));
  const TermIndex centered = b.sub(q, b.constant(0.0f));
  return b.done(b.mul(centered, b.constant(1.0f)));
}

}  // namespace tessary
