// Emitters of the element-wise kinds: the primitive ops, activations,
// transcendental functions, division and comparisons.
#include "ops/emit_parts.h"
#include "ops/op_emitters.h"

namespace tessary {

using namespace emit_detail;

EmitResult emit_primitive(TermArena& arena, std::span<const TermIndex> in, std::uint16_t op_code) {
  TermBuilder b(arena);
  return b.done(b.term(op_code, arg(in, 0), arg(in, 1), arg(in, 2)));
}

EmitResult emit_relu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex x = arg(in, 0);
  const TermIndex zero = b.constant(0.0f);
  return b.done(b.select(b.less(x, zero), zero, x));
}

EmitResult emit_sigmoid(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(sigmoid_of(b, arg(in, 0), width));
}

// tanh x = 2 sigmoid(2x) - 1.
EmitResult emit_tanh(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex two = b.constant(2.0f);
  const TermIndex s = sigmoid_of(b, b.mul(arg(in, 0), two), width);
  return b.done(b.mul_add(s, two, b.constant(-1.0f)));
}

// gelu x = x (1 + erf(x / sqrt 2)) / 2.
EmitResult emit_gelu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex x = arg(in, 0);
  const TermIndex e = erf_of(b, b.mul(x, b.constant(0.707106781f)), width);
  const TermIndex half_x = b.mul(x, b.constant(0.5f));
  return b.done(b.mul(half_x, b.add(e, b.constant(1.0f))));
}

EmitResult emit_silu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex x = arg(in, 0);
  return b.done(b.mul(x, sigmoid_of(b, x, width)));
}

namespace {

// x > 0 ? x : alpha (e^x - 1).
TermIndex elu_of(TermBuilder& b, TermIndex x, float alpha, std::uint32_t width) {
  const TermIndex em1 = b.sub(exp_of(b, x, width), b.constant(1.0f));
  const TermIndex negative = b.mul(em1, b.constant(alpha));
  return b.select(b.less(b.constant(0.0f), x), x, negative);
}

}  // namespace

EmitResult emit_elu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(elu_of(b, arg(in, 0), 1.0f, width));
}

EmitResult emit_selu(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex e = elu_of(b, arg(in, 0), 1.67326324f, width);
  return b.done(b.mul(e, b.constant(1.05070099f)));
}

EmitResult emit_erf(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(erf_of(b, arg(in, 0), width));
}

EmitResult emit_log1p(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(log_of(b, b.add(b.constant(1.0f), arg(in, 0)), width));
}

EmitResult emit_reciprocal(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(reciprocal_of(b, arg(in, 0), width));
}

// Rotation by CORDIC: per iteration one micro-rotation of (x, y) and one
// update of the residual angle z, each a term carrying the iteration number.
// Returns the final (x, y), i.e. (cos, sin) of the input angle.
namespace {

struct Rotation {
  TermIndex x, y;
};

Rotation cordic_of(TermBuilder& b, TermIndex angle, std::uint32_t width) {
  TermIndex x = b.constant(0.607252935f);  // the inverse CORDIC gain
  TermIndex y = b.constant(0.0f);
  TermIndex z = angle;
  const auto step = code(TermOp::Rotate);
  for (std::uint32_t i = 0; i < width; ++i) {
    const TermIndex nx = b.term(step, x, y, z, i);
    const TermIndex ny = b.term(step, y, x, z, i);
    z = b.term(code(OpKind::Sub), z, z, z, i);
    x = nx;
    y = ny;
  }
  return {x, y};
}

}  // namespace

EmitResult emit_tan(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const Rotation r = cordic_of(b, arg(in, 0), width);
  return b.done(b.mul(r.y, reciprocal_of(b, r.x, width)));
}

// a + 1.5 * 2^23 - 1.5 * 2^23 rounds to nearest even in binary32.
EmitResult emit_round(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex magic = b.constant(12582912.0f);
  return b.done(b.sub(b.add(arg(in, 0), magic), magic));
}

EmitResult emit_abs(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex x = arg(in, 0);
  const TermIndex flipped = b.neg(x);
  return b.done(b.select(b.unary(code(TermOp::SignBit), x), flipped, x));
}

EmitResult emit_cordic(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(cordic_of(b, arg(in, 0), width).y);
}

EmitResult emit_div(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  return b.done(b.mul(arg(in, 0), reciprocal_of(b, arg(in, 1), width)));
}

// a^b = e^(b ln a).
EmitResult emit_pow(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex l = log_of(b, arg(in, 0), width);
  return b.done(exp_of(b, b.mul(arg(in, 1), l), width));
}

// a - trunc(a / b) b.
EmitResult emit_mod(TermArena& arena, std::span<const TermIndex> in, std::uint32_t width) {
  TermBuilder b(arena);
  const TermIndex a = arg(in, 0);
  const TermIndex d = arg(in, 1);
  const TermIndex q = b.unary(code(TermOp::Truncate), b.mul(a, reciprocal_of(b, d, width)));
  return b.done(b.mul_add(b.neg(q), d, a));
}

EmitResult emit_equal(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex diff = b.binary(code(OpKind::Xor), arg(in, 0), arg(in, 1));
  return b.done(b.unary(code(TermOp::IsZero), diff));
}

// The ordered comparisons read the sign of the difference.
EmitResult emit_compare(TermArena& arena, std::span<const TermIndex> in, std::uint32_t) {
  TermBuilder b(arena);
  const TermIndex diff = b.sub(arg(in, 0), arg(in, 1));
  return b.done(b.unary(code(TermOp::SignBit), diff));
}

}  // namespace tessary
