// Scalar tier of the binary32 vector primitives, and the 4-lane fast
// exponential (SSE2 is part of the x86-64 baseline).
#pragma GCC optimize("fp-contract=off")

#include <emmintrin.h>

#include <cstdint>
#include <limits>

#include "compute/cpu/f32_tier_kernels.h"
#include "compute/cpu/fast_exp.h"

namespace tessary::cpu::tiers {

void f32_add_scalar(const float* a, const float* b, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = a[i] + b[i];
}

void f32_mul_scalar(const float* a, const float* b, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = a[i] * b[i];
}

float f32_sum_scalar(const float* x, std::size_t n) {
  float s = 0.0f;
  for (std::size_t i = 0; i < n; ++i) s += x[i];
  return s;
}

float f32_dot_scalar(const float* a, const float* b, std::size_t n) {
  float s = 0.0f;
  for (std::size_t i = 0; i < n; ++i) {
    const float p = a[i] * b[i];
    s += p;
  }
  return s;
}

// NaN elements never compare greater (or less), so they are skipped.
float f32_max_scalar(const float* x, std::size_t n) {
  float m = -std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i < n; ++i) m = x[i] > m ? x[i] : m;
  return m;
}

float f32_min_scalar(const float* x, std::size_t n) {
  float m = std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i < n; ++i) m = x[i] < m ? x[i] : m;
  return m;
}

void f32_axpy_scalar(float* y, const float* x, std::size_t n, float alpha) {
  for (std::size_t i = 0; i < n; ++i) {
    const float p = alpha * x[i];
    y[i] = y[i] + p;
  }
}

namespace {

__m128 fast_exp4(__m128 x) {
  const __m128 valid = _mm_cmpge_ps(x, _mm_set1_ps(fast_exp_const::kLow));  // false for NaN
  x = _mm_min_ps(x, _mm_set1_ps(fast_exp_const::kHigh));
  const __m128 t = _mm_mul_ps(x, _mm_set1_ps(fast_exp_const::kLog2e));
  const __m128 nonneg = _mm_cmpge_ps(t, _mm_setzero_ps());
  const __m128 half = _mm_or_ps(_mm_and_ps(nonneg, _mm_set1_ps(0.5f)), _mm_andnot_ps(nonneg, _mm_set1_ps(-0.5f)));
  const __m128i n = _mm_cvttps_epi32(_mm_add_ps(t, half));
  const __m128 nf = _mm_cvtepi32_ps(n);
  const __m128 r = _mm_add_ps(_mm_add_ps(x, _mm_mul_ps(nf, _mm_set1_ps(fast_exp_const::kLn2Hi))),
                              _mm_mul_ps(nf, _mm_set1_ps(fast_exp_const::kLn2Lo)));
  __m128 p = _mm_add_ps(_mm_mul_ps(r, _mm_set1_ps(fast_exp_const::kC6)), _mm_set1_ps(fast_exp_const::kC5));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(fast_exp_const::kC4));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(fast_exp_const::kC3));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(0.5f));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(1.0f));
  p = _mm_add_ps(_mm_mul_ps(p, r), _mm_set1_ps(1.0f));
  __m128i bits = _mm_add_epi32(_mm_slli_epi32(n, 23), _mm_set1_epi32(static_cast<int>(fast_exp_const::kOneBits)));
  // Unsigned min against 2^127's pattern; SSE2 only compares signed, so flip
  // the top bit of both sides first.
  const __m128i flip = _mm_set1_epi32(INT32_MIN);
  const __m128i cap = _mm_set1_epi32(static_cast<int>(fast_exp_const::kMaxScaleBits));
  const __m128i over = _mm_cmpgt_epi32(_mm_xor_si128(bits, flip), _mm_xor_si128(cap, flip));
  bits = _mm_or_si128(_mm_and_si128(over, cap), _mm_andnot_si128(over, bits));
  return _mm_and_ps(_mm_mul_ps(_mm_castsi128_ps(bits), p), valid);
}

}  // namespace

void f32_exp_sse2(float* x, std::size_t n) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) _mm_storeu_ps(x + i, fast_exp4(_mm_loadu_ps(x + i)));
  for (; i < n; ++i) x[i] = fast_exp(x[i]);
}

}  // namespace tessary::cpu::tiers
