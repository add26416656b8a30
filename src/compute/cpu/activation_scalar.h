#pragma once
// Scalar forms of the activations that have a 16-bit lookup table, and of
// the fused activations. sigmoid, tanh, gelu and silu use the fast
// exponential; exp and erf are the standard functions.
//
// Baseline-ISA files only (see fast_exp.h).
#include <cmath>

#include "compute/cpu/fast_exp.h"

namespace tessary::cpu {

namespace act_const {
inline constexpr float kGeluCubic = 0.044715f;
inline constexpr float kGeluScale = 0.7978846f;  // sqrt(2 / pi)
inline constexpr float kSeluScale = 1.050701f;
inline constexpr float kSeluAlphaScale = 1.7580993f;  // scale times alpha
}  // namespace act_const

// 1 for NaN and for x > 87.33654, where fast_exp(-x) is 0.
inline float sigmoid_f(float x) { return 1.0f / (fast_exp(-x) + 1.0f); }

// -1 for NaN, where fast_exp gives 0.
inline float tanh_f(float x) {
  const float e = fast_exp(x * 2.0f);
  return (e - 1.0f) / (e + 1.0f);
}

// The exponent argument of gelu's tanh form: 2 * sqrt(2/pi) * (x + 0.044715 x^3),
// in this evaluation order.
inline float gelu_arg(float x) {
  using namespace act_const;
  const float inner = ((kGeluCubic * x) * x) * x + x;
  return (inner * kGeluScale) * 2.0f;
}

// Combines x with e = fast_exp(gelu_arg(x)).
inline float gelu_finish(float x, float e) { return ((e - 1.0f) / (e + 1.0f) + 1.0f) * (0.5f * x); }

inline float gelu_f(float x) { return gelu_finish(x, fast_exp(gelu_arg(x))); }

// x itself for NaN and for x > 87.33654.
inline float silu_f(float x) { return x * (1.0f / (fast_exp(-x) + 1.0f)); }

inline float exp_f(float x) { return std::exp(x); }

inline float erf_f(float x) { return std::erf(x); }

inline float relu_f(float x) { return x > 0.0f ? x : 0.0f; }

inline float elu_f(float x) { return x >= 0.0f ? x : std::exp(x) - 1.0f; }

inline float selu_f(float x) {
  using namespace act_const;
  return x >= 0.0f ? kSeluScale * x : kSeluAlphaScale * (std::exp(x) - 1.0f);
}

}  // namespace tessary::cpu
