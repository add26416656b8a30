#pragma once
// Scalar definitions of the float element-wise operations.
//
// Baseline-ISA files only (see fast_exp.h).
#include <bit>
#include <cmath>
#include <cstdint>

#include "compute/cpu/activation_scalar.h"
#include "compute/cpu/elementwise_op_ids.h"

namespace tessary::cpu {

namespace unary_f {

inline float neg(float x) { return std::bit_cast<float>(std::bit_cast<std::uint32_t>(x) ^ 0x80000000u); }
inline float abs(float x) { return std::bit_cast<float>(std::bit_cast<std::uint32_t>(x) & 0x7FFFFFFFu); }

// Zero, negatives and NaN all take the logarithm of 1e-30.
inline float log(float x) { return std::log(x > 1e-30f ? x : 1e-30f); }

// Clamped into the domain; NaN passes through both comparisons unchanged.
inline float clamp_unit(float x) { return x < -1.0f ? -1.0f : (x > 1.0f ? 1.0f : x); }

inline float is_nan(float x) { return x != x ? 1.0f : 0.0f; }

// NaN and both zeros give +0.
inline float sign(float x) { return x < 0.0f ? -1.0f : (x > 0.0f ? 1.0f : 0.0f); }

}  // namespace unary_f

inline float unary_scalar(UnaryOp op, float x) {
  switch (op) {
    case UnaryOp::Neg: return unary_f::neg(x);
    case UnaryOp::Relu: return relu_f(x);
    case UnaryOp::Sigmoid: return sigmoid_f(x);
    case UnaryOp::Tanh: return tanh_f(x);
    case UnaryOp::Gelu: return gelu_f(x);
    case UnaryOp::Silu: return silu_f(x);
    case UnaryOp::Elu: return elu_f(x);
    case UnaryOp::Selu: return selu_f(x);
    case UnaryOp::Exp: return exp_f(x);
    case UnaryOp::Log: return unary_f::log(x);
    case UnaryOp::Log1p: return std::log1p(x);
    case UnaryOp::Sqrt: return std::sqrt(x);
    case UnaryOp::Reciprocal: return 1.0f / x;
    case UnaryOp::Sin: return std::sin(x);
    case UnaryOp::Cos: return std::cos(x);
    case UnaryOp::Tan: return std::tan(x);
    case UnaryOp::Asin: return std::asin(unary_f::clamp_unit(x));
    case UnaryOp::Acos: return std::acos(unary_f::clamp_unit(x));
    case UnaryOp::Atan: return std::atan(x);
    case UnaryOp::Ceil: return std::ceil(x);
    case UnaryOp::Floor: return std::floor(x);
    case UnaryOp::Round: return std::round(x);
    case UnaryOp::Erf: return erf_f(x);
    case UnaryOp::IsNan: return unary_f::is_nan(x);
    case UnaryOp::Sign: return unary_f::sign(x);
    case UnaryOp::Abs: return unary_f::abs(x);
  }
  return x;
}

namespace binary_f {

// Floored modulo: the result takes the sign of b.
inline float mod(float a, float b) { return a - std::floor(a / b) * b; }

// A NaN operand is ignored (NaN only when both are). Between +0 and -0, min
// gives -0 and max gives +0 whatever the operand order, so the result does
// not depend on the order of the operands.
inline float min(float a, float b) {
  if (a != a) return b;
  if (b != b) return a;
  if (a < b) return a;
  if (b < a) return b;
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(a) | std::bit_cast<std::uint32_t>(b));
}
inline float max(float a, float b) {
  if (a != a) return b;
  if (b != b) return a;
  if (a > b) return a;
  if (b > a) return b;
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(a) & std::bit_cast<std::uint32_t>(b));
}

inline float truth(bool v) { return v ? 1.0f : 0.0f; }

}  // namespace binary_f

inline float binary_scalar(BinaryOp op, float a, float b) {
  switch (op) {
    case BinaryOp::Add: return a + b;
    case BinaryOp::Sub: return a - b;
    case BinaryOp::Mul: return a * b;
    case BinaryOp::Div: return a / b;
    case BinaryOp::Pow: return std::pow(a, b);
    case BinaryOp::Mod: return binary_f::mod(a, b);
    case BinaryOp::Min: return binary_f::min(a, b);
    case BinaryOp::Max: return binary_f::max(a, b);
    case BinaryOp::Equal: return binary_f::truth(a == b);
    case BinaryOp::Less: return binary_f::truth(a < b);
    case BinaryOp::LessOrEqual: return binary_f::truth(a <= b);
    case BinaryOp::Greater: return binary_f::truth(a > b);
    case BinaryOp::GreaterOrEqual: return binary_f::truth(a >= b);
  }
  return a;
}

}  // namespace tessary::cpu
