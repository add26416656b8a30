#pragma once
// Building blocks shared by the op emitters. Internal to src/ops.
//
// TermBuilder keeps the first overflow instead of threading an error through
// every step: once the arena is full every later step is skipped and done()
// reports the overflow. The math parts (series, Newton steps, reduction
// trees) grow with the compile width, which is what makes wide compilations
// need larger structures.
//
// No call here takes two arguments that both append terms: their evaluation
// order is unspecified, and the term order should not depend on the compiler.
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "ops/term_arena.h"

namespace tessary::emit_detail {

inline constexpr std::uint16_t code(OpKind kind) { return static_cast<std::uint16_t>(kind); }
inline constexpr std::uint16_t code(TermOp op) { return static_cast<std::uint16_t>(op); }

// Degree of the polynomial series at this width: one term per 4 bits.
inline std::uint32_t series_degree(std::uint32_t width) { return (width + 3) / 4; }
// Newton steps and reduction-tree depth: one per bit of the width's magnitude.
inline std::uint32_t log_steps(std::uint32_t width) { return static_cast<std::uint32_t>(std::bit_width(width)); }

class TermBuilder {
 public:
  explicit TermBuilder(TermArena& arena) : arena_(arena) {}

  TermIndex term(std::uint16_t op, TermIndex a, TermIndex b, TermIndex c, std::uint32_t imm = 0) {
    if (failed_) return 0;
    EmitResult r = arena_.push(Term{op, a, b, c, imm});
    if (!r) {
      failed_ = true;
      return 0;
    }
    return *r;
  }
  TermIndex unary(std::uint16_t op, TermIndex a, std::uint32_t imm = 0) { return term(op, a, a, a, imm); }
  TermIndex binary(std::uint16_t op, TermIndex a, TermIndex b) { return term(op, a, b, b); }

  TermIndex constant(float value) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return term(code(TermOp::Const), 0, 0, 0, bits);
  }
  TermIndex add(TermIndex a, TermIndex b) { return binary(code(OpKind::Add), a, b); }
  TermIndex sub(TermIndex a, TermIndex b) { return binary(code(OpKind::Sub), a, b); }
  TermIndex mul(TermIndex a, TermIndex b) { return binary(code(OpKind::Mul), a, b); }
  TermIndex neg(TermIndex a) { return unary(code(OpKind::Neg), a); }
  TermIndex less(TermIndex a, TermIndex b) { return binary(code(OpKind::Less), a, b); }
  TermIndex mul_add(TermIndex a, TermIndex b, TermIndex c) { return term(code(TermOp::MulAdd), a, b, c); }
  TermIndex select(TermIndex cond, TermIndex a, TermIndex b) { return term(code(TermOp::Select), cond, a, b); }

  EmitResult done(TermIndex result) const {
    if (failed_) return std::unexpected(EmitOverflow{});
    return result;
  }

 private:
  TermArena& arena_;
  bool failed_ = false;
};

// Operand i of the seeded inputs; kinds seeded with fewer inputs than an
// emitter reads reuse the last one.
inline TermIndex arg(std::span<const TermIndex> in, std::size_t i) {
  if (in.empty()) return 0;
  return in[i < in.size() ? i : in.size() - 1];
}

// c0 + x (c1 + x (c2 + ...)), evaluated by Horner's rule.
inline TermIndex horner(TermBuilder& b, TermIndex x, std::uint32_t degree) {
  TermIndex acc = b.constant(1.0f);
  for (std::uint32_t i = 0; i < degree; ++i) acc = b.mul_add(acc, x, b.constant(1.0f / static_cast<float>(i + 2)));
  return acc;
}

// e^x = 2^k * p(r) with k = round(x log2 e) and r = x - k ln 2.
inline TermIndex exp_of(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex k = b.unary(code(OpKind::Round), b.mul(x, b.constant(1.44269504f)));
  const TermIndex r = b.mul_add(k, b.constant(-0.693147181f), x);
  return b.binary(code(TermOp::Scale2), horner(b, r, series_degree(width)), k);
}

// ln x = e ln 2 + q(m) with x = m 2^e, m in [1, 2).
inline TermIndex log_of(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex e = b.unary(code(TermOp::Convert), x, 4);  // exponent field as i32
  const TermIndex m = b.binary(code(TermOp::Scale2), x, b.neg(e));
  const TermIndex q = horner(b, b.sub(m, b.constant(1.0f)), series_degree(width));
  return b.mul_add(e, b.constant(0.693147181f), q);
}

// 1 / x by Newton steps y <- y (2 - x y) from a bit-trick first guess.
inline TermIndex reciprocal_of(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex minus_x = b.neg(x);
  const TermIndex two = b.constant(2.0f);
  TermIndex y = b.sub(b.constant(2.8235e38f), x);
  for (std::uint32_t i = 0; i < log_steps(width); ++i) y = b.mul(y, b.mul_add(minus_x, y, two));
  return y;
}

// 1 / sqrt(x) by Newton steps y <- y (1.5 - 0.5 x y^2).
inline TermIndex rsqrt_of(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex half_x = b.mul(x, b.constant(-0.5f));
  const TermIndex three_halves = b.constant(1.5f);
  TermIndex y = b.sub(b.constant(1.9817e19f), x);
  for (std::uint32_t i = 0; i < log_steps(width); ++i) {
    y = b.mul(y, b.mul_add(half_x, b.mul(y, y), three_halves));
  }
  return y;
}

// 1 / (1 + e^-x).
inline TermIndex sigmoid_of(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex e = exp_of(b, b.neg(x), width);
  return reciprocal_of(b, b.add(b.constant(1.0f), e), width);
}

// erf x = x p(x^2), saturated to its sign past the series' range.
inline TermIndex erf_of(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex series = b.mul(x, horner(b, b.mul(x, x), series_degree(width)));
  const TermIndex sign = b.unary(code(OpKind::Sign), x);
  const TermIndex bound = b.constant(3.92f);
  const TermIndex outside = b.less(bound, b.unary(code(OpKind::Abs), x));
  return b.select(outside, sign, series);
}

// Pairwise reduction along the innermost axis in log_steps levels.
inline TermIndex reduce_tree(TermBuilder& b, TermIndex x, TermOp op, std::uint32_t width) {
  TermIndex acc = x;
  for (std::uint32_t level = 0; level < log_steps(width); ++level) acc = b.unary(code(op), acc, level);
  return acc;
}

// Mean along the innermost axis.
inline TermIndex mean_of(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex sum = reduce_tree(b, x, TermOp::ReduceAdd, width);
  return b.mul(sum, b.constant(1.0f / static_cast<float>(width == 0 ? 1 : width)));
}

// Row-by-column products summed along k.
inline TermIndex matmul_of(TermBuilder& b, TermIndex a, TermIndex w, std::uint32_t width) {
  const TermIndex rows = b.unary(code(TermOp::Broadcast), a);
  const TermIndex columns = b.unary(code(TermOp::Broadcast), w, 1);
  const TermIndex products = b.mul(rows, columns);
  return reduce_tree(b, products, TermOp::ReduceAdd, width);
}

// exp(x - max) / sum(exp(x - max)); also hands back the shifted inputs and
// the sum for the log form.
struct SoftmaxParts {
  TermIndex shifted, exps, sum;
};
inline SoftmaxParts softmax_parts(TermBuilder& b, TermIndex x, std::uint32_t width) {
  const TermIndex top = reduce_tree(b, x, TermOp::ReduceMax, width);
  const TermIndex shifted = b.sub(x, b.unary(code(TermOp::Broadcast), top));
  const TermIndex exps = exp_of(b, shifted, width);
  const TermIndex sum = reduce_tree(b, exps, TermOp::ReduceAdd, width);
  return {shifted, exps, sum};
}

}  // namespace tessary::emit_detail
