// AVX2 tier of the softmax and norm row loops: eight lanes, then the tail
// one element at a time with the same operations.
#pragma GCC optimize("fp-contract=off")

#include <immintrin.h>

#include "compute/cpu/norm_row_tiers.h"

namespace tessary::cpu::tiers {

void row_sub_const_avx2(const float* x, float c, float* out, std::size_t n) {
  const __m256 vc = _mm256_set1_ps(c);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(out + i, _mm256_sub_ps(_mm256_loadu_ps(x + i), vc));
  for (; i < n; ++i) out[i] = x[i] - c;
}

void row_div_const_avx2(const float* x, float c, float* out, std::size_t n) {
  const __m256 vc = _mm256_set1_ps(c);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(out + i, _mm256_div_ps(_mm256_loadu_ps(x + i), vc));
  for (; i < n; ++i) out[i] = x[i] / c;
}

void row_scale_mul_avx2(const float* x, float c, const float* g, float* out, std::size_t n) {
  const __m256 vc = _mm256_set1_ps(c);
  std::size_t i = 0;
  if (g == nullptr) {
    for (; i + 8 <= n; i += 8) _mm256_storeu_ps(out + i, _mm256_mul_ps(vc, _mm256_loadu_ps(x + i)));
    for (; i < n; ++i) out[i] = c * x[i];
    return;
  }
  for (; i + 8 <= n; i += 8) {
    const __m256 s = _mm256_mul_ps(vc, _mm256_loadu_ps(x + i));
    _mm256_storeu_ps(out + i, _mm256_mul_ps(s, _mm256_loadu_ps(g + i)));
  }
  for (; i < n; ++i) {
    const float s = c * x[i];
    out[i] = s * g[i];
  }
}

namespace {

template <bool HasG, bool HasB>
void affine(const float* d, float c, const float* g, const float* b, float* out, std::size_t n) {
  const __m256 vc = _mm256_set1_ps(c);
  const __m256 zero = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256 v = _mm256_mul_ps(vc, _mm256_loadu_ps(d + i));
    if constexpr (HasG) v = _mm256_mul_ps(_mm256_loadu_ps(g + i), v);
    _mm256_storeu_ps(out + i, _mm256_add_ps(HasB ? _mm256_loadu_ps(b + i) : zero, v));
  }
  for (; i < n; ++i) {
    float v = c * d[i];
    if constexpr (HasG) v = g[i] * v;
    out[i] = (HasB ? b[i] : 0.0f) + v;
  }
}

template <bool HasG>
void affine_const(const float* d, float c, float g, float b, float* out, std::size_t n) {
  const __m256 vc = _mm256_set1_ps(c);
  const __m256 vg = _mm256_set1_ps(g);
  const __m256 vb = _mm256_set1_ps(b);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256 v = _mm256_mul_ps(vc, _mm256_loadu_ps(d + i));
    if constexpr (HasG) v = _mm256_mul_ps(vg, v);
    _mm256_storeu_ps(out + i, _mm256_add_ps(vb, v));
  }
  for (; i < n; ++i) {
    float v = c * d[i];
    if constexpr (HasG) v = g * v;
    out[i] = b + v;
  }
}

}  // namespace

void row_affine_avx2(const float* d, float c, const float* g, const float* b, float* out, std::size_t n) {
  if (g != nullptr) {
    return b != nullptr ? affine<true, true>(d, c, g, b, out, n) : affine<true, false>(d, c, g, b, out, n);
  }
  return b != nullptr ? affine<false, true>(d, c, g, b, out, n) : affine<false, false>(d, c, g, b, out, n);
}

void row_affine_const_avx2(const float* d, float c, const float* g, float b, float* out, std::size_t n) {
  if (g != nullptr) return affine_const<true>(d, c, *g, b, out, n);
  return affine_const<false>(d, c, 0.0f, b, out, n);
}

}  // namespace tessary::cpu::tiers
