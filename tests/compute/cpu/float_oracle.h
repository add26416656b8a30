#pragma once
// Reference definitions of the float element-wise operations, written out
// plainly from their formulas, one rounding per operation, for the kernel
// tests to compare against bit for bit.
#pragma GCC optimize("fp-contract=off")

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tessary::cpu::oracle {

inline std::uint32_t bits(float x) { return std::bit_cast<std::uint32_t>(x); }
inline float from_bits(std::uint32_t b) { return std::bit_cast<float>(b); }
// Bit-identical, or both NaN. Which NaN an operation returns (payload, sign,
// quiet bit of a signaling input) is not part of any formula here and varies
// with how the compiler orders commutative operands; tests that care about a
// NaN's sign (neg, abs) check it on their own.
inline bool same(float a, float b) { return bits(a) == bits(b) || (a != a && b != b); }

inline float qnan() { return std::numeric_limits<float>::quiet_NaN(); }
inline float inf() { return std::numeric_limits<float>::infinity(); }

inline float fastexp(float x) {
  if (std::isnan(x) || x < -87.33654f) return 0.0f;
  x = std::min(x, 88.0f);
  const float t = x * 1.442695f;
  const float rounded = t >= 0.0f ? t + 0.5f : t - 0.5f;
  const std::int32_t n = rounded > 2147483520.0f ? INT32_MAX : static_cast<std::int32_t>(rounded);
  const float nf = static_cast<float>(n);
  const float r = (x + nf * -0.693359375f) + nf * 0.00021219444f;
  const float p =
      ((((((r * 0.0013888889f + 0.008333334f) * r + 0.041666668f) * r + 0.16666667f) * r + 0.5f) * r + 1.0f) * r +
       1.0f);
  std::uint32_t s = (static_cast<std::uint32_t>(n) << 23) + 0x3F800000u;
  if (s >= 0x7F000000u) s = 0x7F000000u;
  return from_bits(s) * p;
}

inline float sigmoid(float x) { return 1.0f / (fastexp(-x) + 1.0f); }
inline float tanh(float x) {
  const float e = fastexp(2.0f * x);
  return (e - 1.0f) / (e + 1.0f);
}
inline float gelu(float x) {
  const float u = (((0.044715f * x * x * x) + x) * 0.7978846f) * 2.0f;
  const float e = fastexp(u);
  return ((e - 1.0f) / (e + 1.0f) + 1.0f) * (0.5f * x);
}
inline float silu(float x) { return x * (1.0f / (fastexp(-x) + 1.0f)); }
inline float relu(float x) { return x > 0.0f ? x : 0.0f; }
inline float elu(float x) { return x >= 0.0f ? x : expf(x) - 1.0f; }
inline float selu(float x) { return x >= 0.0f ? 1.050701f * x : 1.7580993f * (expf(x) - 1.0f); }

// In the order of the unary operation enum.
inline float unary(unsigned op, float x) {
  switch (op) {
    case 0: return from_bits(bits(x) ^ 0x80000000u);  // neg
    case 1: return relu(x);
    case 2: return sigmoid(x);
    case 3: return tanh(x);
    case 4: return gelu(x);
    case 5: return silu(x);
    case 6: return elu(x);
    case 7: return selu(x);
    case 8: return expf(x);
    case 9: return logf(std::isnan(x) ? 1e-30f : std::max(x, 1e-30f));
    case 10: return log1pf(x);
    case 11: return sqrtf(x);
    case 12: return 1.0f / x;
    case 13: return sinf(x);
    case 14: return cosf(x);
    case 15: return tanf(x);
    case 16: return std::isnan(x) ? x : asinf(std::clamp(x, -1.0f, 1.0f));
    case 17: return std::isnan(x) ? x : acosf(std::clamp(x, -1.0f, 1.0f));
    case 18: return atanf(x);
    case 19: return ceilf(x);
    case 20: return floorf(x);
    case 21: return roundf(x);
    case 22: return erff(x);
    case 23: return std::isnan(x) ? 1.0f : 0.0f;
    case 24: return x < 0.0f ? -1.0f : (x > 0.0f ? 1.0f : 0.0f);
    case 25: return from_bits(bits(x) & 0x7FFFFFFFu);  // abs
  }
  return 0.0f;
}

// In the order of the binary operation enum.
inline float binary(unsigned op, float a, float b) {
  switch (op) {
    case 0: return a + b;
    case 1: return a - b;
    case 2: return a * b;
    case 3: return a / b;
    case 4: return powf(a, b);
    case 5: return a - floorf(a / b) * b;
    case 6:  // min: NaN ignored; -0 below +0
      if (std::isnan(a)) return b;
      if (std::isnan(b)) return a;
      if (a == b) return std::signbit(a) ? a : b;
      return a < b ? a : b;
    case 7:  // max: NaN ignored; +0 above -0
      if (std::isnan(a)) return b;
      if (std::isnan(b)) return a;
      if (a == b) return std::signbit(a) ? b : a;
      return a > b ? a : b;
    case 8: return a == b ? 1.0f : 0.0f;
    case 9: return a < b ? 1.0f : 0.0f;
    case 10: return a <= b ? 1.0f : 0.0f;
    case 11: return a > b ? 1.0f : 0.0f;
    case 12: return a >= b ? 1.0f : 0.0f;
  }
  return 0.0f;
}

}  // namespace tessary::cpu::oracle
