// AVX-512F tier of the binary32 vector primitives.
//
// Results are fixed bit for bit per tier, so the compiler must not fuse a
// separate multiply and add into an FMA: only the explicit fmadd below fuses.
// Tier 3 is chosen on AVX-512F alone, so the wider AVX-512 subsets that the
// build enables for this file are switched off again.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("no-avx512bw,no-avx512dq,no-avx512vl")

#include <immintrin.h>

#include "compute/cpu/f32_tier_kernels.h"

namespace tessary::cpu::tiers {
namespace {

__mmask16 tail_mask(std::size_t count) { return static_cast<__mmask16>((1u << count) - 1u); }

// Four lanes, upper half onto lower half: (v0 + v2) + (v1 + v3).
float hsum_pairwise(__m128 v) {
  const __m128 s2 = _mm_add_ps(v, _mm_movehl_ps(v, v));
  return _mm_cvtss_f32(_mm_add_ss(s2, _mm_shuffle_ps(s2, s2, 1)));
}

// Sixteen lanes reduced pairwise, upper half onto lower half until one lane
// remains.
float hsum_pairwise(__m512 v) {
  const __m256 lo = _mm512_castps512_ps256(v);
  const __m256 hi = _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1));
  const __m256 s8 = _mm256_add_ps(lo, hi);
  return hsum_pairwise(_mm_add_ps(_mm256_castps256_ps128(s8), _mm256_extractf128_ps(s8, 1)));
}

}  // namespace

void f32_add_avx512(const float* a, const float* b, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    _mm512_storeu_ps(out + i, _mm512_add_ps(_mm512_loadu_ps(a + i), _mm512_loadu_ps(b + i)));
  }
  if (i < n) {
    const __mmask16 m = tail_mask(n - i);
    _mm512_mask_storeu_ps(out + i, m,
                          _mm512_add_ps(_mm512_maskz_loadu_ps(m, a + i), _mm512_maskz_loadu_ps(m, b + i)));
  }
}

void f32_mul_avx512(const float* a, const float* b, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    _mm512_storeu_ps(out + i, _mm512_mul_ps(_mm512_loadu_ps(a + i), _mm512_loadu_ps(b + i)));
  }
  if (i < n) {
    const __mmask16 m = tail_mask(n - i);
    _mm512_mask_storeu_ps(out + i, m,
                          _mm512_mul_ps(_mm512_maskz_loadu_ps(m, a + i), _mm512_maskz_loadu_ps(m, b + i)));
  }
}

// Four accumulators over blocks of 64, combined (acc1 + acc0) + (acc2 + acc3),
// reduced pairwise, then the tail in index order.
float f32_sum_avx512(const float* x, std::size_t n) {
  __m512 acc0 = _mm512_setzero_ps(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    acc0 = _mm512_add_ps(acc0, _mm512_loadu_ps(x + i));
    acc1 = _mm512_add_ps(acc1, _mm512_loadu_ps(x + i + 16));
    acc2 = _mm512_add_ps(acc2, _mm512_loadu_ps(x + i + 32));
    acc3 = _mm512_add_ps(acc3, _mm512_loadu_ps(x + i + 48));
  }
  float s = hsum_pairwise(_mm512_add_ps(_mm512_add_ps(acc1, acc0), _mm512_add_ps(acc2, acc3)));
  for (; i < n; ++i) s += x[i];
  return s;
}

// Fused accumulators over blocks of 64, then whole blocks of 16 products each
// reduced pairwise, then groups of four products (reduced pairwise), then
// single products (multiply, then add).
float f32_dot_avx512(const float* a, const float* b, std::size_t n) {
  __m512 acc0 = _mm512_setzero_ps(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
  std::size_t i = 0;
  for (; i + 64 <= n; i += 64) {
    acc0 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i), _mm512_loadu_ps(b + i), acc0);
    acc1 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 16), _mm512_loadu_ps(b + i + 16), acc1);
    acc2 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 32), _mm512_loadu_ps(b + i + 32), acc2);
    acc3 = _mm512_fmadd_ps(_mm512_loadu_ps(a + i + 48), _mm512_loadu_ps(b + i + 48), acc3);
  }
  float s = hsum_pairwise(_mm512_add_ps(_mm512_add_ps(acc3, acc2), _mm512_add_ps(acc1, acc0)));
  for (; i + 16 <= n; i += 16) {
    s += hsum_pairwise(_mm512_mul_ps(_mm512_loadu_ps(a + i), _mm512_loadu_ps(b + i)));
  }
  for (; i + 4 <= n; i += 4) {
    s += hsum_pairwise(_mm_mul_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i)));
  }
  for (; i < n; ++i) {
    const float p = a[i] * b[i];
    s += p;
  }
  return s;
}

// The packed max/min keep the accumulator (second operand) when the element
// is NaN, so NaN elements are skipped as on the scalar tier.
float f32_max_avx512(const float* x, std::size_t n) {
  __m512 acc = _mm512_set1_ps(-__builtin_inff());
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) acc = _mm512_max_ps(_mm512_loadu_ps(x + i), acc);
  if (i < n) {
    const __mmask16 m = tail_mask(n - i);
    acc = _mm512_mask_max_ps(acc, m, _mm512_maskz_loadu_ps(m, x + i), acc);
  }
  return _mm512_reduce_max_ps(acc);
}

float f32_min_avx512(const float* x, std::size_t n) {
  __m512 acc = _mm512_set1_ps(__builtin_inff());
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) acc = _mm512_min_ps(_mm512_loadu_ps(x + i), acc);
  if (i < n) {
    const __mmask16 m = tail_mask(n - i);
    acc = _mm512_mask_min_ps(acc, m, _mm512_maskz_loadu_ps(m, x + i), acc);
  }
  return _mm512_reduce_min_ps(acc);
}

void f32_axpy_avx512(float* y, const float* x, std::size_t n, float alpha) {
  const __m512 va = _mm512_set1_ps(alpha);
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    _mm512_storeu_ps(y + i, _mm512_fmadd_ps(va, _mm512_loadu_ps(x + i), _mm512_loadu_ps(y + i)));
  }
  if (i < n) {
    const __mmask16 m = tail_mask(n - i);
    _mm512_mask_storeu_ps(y + i, m,
                          _mm512_fmadd_ps(va, _mm512_maskz_loadu_ps(m, x + i), _mm512_maskz_loadu_ps(m, y + i)));
  }
}

// max(x, +0) keeps the second operand for NaN and for -0, which is relu's
// +0 in both cases.
void f32_relu_avx512(const float* in, float* out, std::size_t n) {
  const __m512 zero = _mm512_setzero_ps();
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) _mm512_storeu_ps(out + i, _mm512_max_ps(_mm512_loadu_ps(in + i), zero));
  if (i < n) {
    const __mmask16 m = tail_mask(n - i);
    _mm512_mask_storeu_ps(out + i, m, _mm512_max_ps(_mm512_maskz_loadu_ps(m, in + i), zero));
  }
}

}  // namespace tessary::cpu::tiers
