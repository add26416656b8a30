// AVX2 + FMA tier of the binary32 vector primitives.
//
// Results are fixed bit for bit per tier, so the compiler must not fuse a
// separate multiply and add into an FMA: only the explicit fmadd below fuses.
#pragma GCC optimize("fp-contract=off")

#include <immintrin.h>

#include "compute/cpu/f32_tier_kernels.h"

namespace tessary::cpu::tiers {
namespace {

// The eight lanes added left to right.
float hsum_left_to_right(__m256 v) {
  alignas(32) float lane[8];
  _mm256_store_ps(lane, v);
  float s = lane[0];
  for (int i = 1; i < 8; ++i) s += lane[i];
  return s;
}

float hmax(__m256 v) {
  alignas(32) float lane[8];
  _mm256_store_ps(lane, v);
  float m = lane[0];
  for (int i = 1; i < 8; ++i) m = lane[i] > m ? lane[i] : m;
  return m;
}

float hmin(__m256 v) {
  alignas(32) float lane[8];
  _mm256_store_ps(lane, v);
  float m = lane[0];
  for (int i = 1; i < 8; ++i) m = lane[i] < m ? lane[i] : m;
  return m;
}

}  // namespace

void f32_add_avx2(const float* a, const float* b, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    _mm256_storeu_ps(out + i, _mm256_add_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i)));
  }
  for (; i < n; ++i) out[i] = a[i] + b[i];
}

void f32_mul_avx2(const float* a, const float* b, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    _mm256_storeu_ps(out + i, _mm256_mul_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i)));
  }
  for (; i < n; ++i) out[i] = a[i] * b[i];
}

// Four accumulators over blocks of 32, combined (acc3 + acc2) + (acc1 + acc0),
// then the tail in index order.
float f32_sum_avx2(const float* x, std::size_t n) {
  __m256 acc0 = _mm256_setzero_ps(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    acc0 = _mm256_add_ps(acc0, _mm256_loadu_ps(x + i));
    acc1 = _mm256_add_ps(acc1, _mm256_loadu_ps(x + i + 8));
    acc2 = _mm256_add_ps(acc2, _mm256_loadu_ps(x + i + 16));
    acc3 = _mm256_add_ps(acc3, _mm256_loadu_ps(x + i + 24));
  }
  float s = hsum_left_to_right(_mm256_add_ps(_mm256_add_ps(acc3, acc2), _mm256_add_ps(acc1, acc0)));
  for (; i < n; ++i) s += x[i];
  return s;
}

// Fused accumulators over blocks of 32, then whole blocks of 8 products each
// summed across lanes, then single products (multiply, then add).
float f32_dot_avx2(const float* a, const float* b, std::size_t n) {
  __m256 acc0 = _mm256_setzero_ps(), acc1 = acc0, acc2 = acc0, acc3 = acc0;
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    acc0 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i), acc0);
    acc1 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8), _mm256_loadu_ps(b + i + 8), acc1);
    acc2 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 16), _mm256_loadu_ps(b + i + 16), acc2);
    acc3 = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 24), _mm256_loadu_ps(b + i + 24), acc3);
  }
  float s = hsum_left_to_right(_mm256_add_ps(_mm256_add_ps(acc3, acc2), _mm256_add_ps(acc1, acc0)));
  for (; i + 8 <= n; i += 8) {
    s += hsum_left_to_right(_mm256_mul_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i)));
  }
  for (; i < n; ++i) {
    const float p = a[i] * b[i];
    s += p;
  }
  return s;
}

// The packed max/min keep the accumulator (second operand) when the element
// is NaN, so NaN elements are skipped as on the scalar tier.
float f32_max_avx2(const float* x, std::size_t n) {
  __m256 acc = _mm256_set1_ps(-__builtin_inff());
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) acc = _mm256_max_ps(_mm256_loadu_ps(x + i), acc);
  float m = hmax(acc);
  for (; i < n; ++i) m = x[i] > m ? x[i] : m;
  return m;
}

float f32_min_avx2(const float* x, std::size_t n) {
  __m256 acc = _mm256_set1_ps(__builtin_inff());
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) acc = _mm256_min_ps(_mm256_loadu_ps(x + i), acc);
  float m = hmin(acc);
  for (; i < n; ++i) m = x[i] < m ? x[i] : m;
  return m;
}

void f32_axpy_avx2(float* y, const float* x, std::size_t n, float alpha) {
  const __m256 va = _mm256_set1_ps(alpha);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    _mm256_storeu_ps(y + i, _mm256_fmadd_ps(va, _mm256_loadu_ps(x + i), _mm256_loadu_ps(y + i)));
  }
  for (; i < n; ++i) {
    y[i] = _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(alpha), _mm_set_ss(x[i]), _mm_set_ss(y[i])));
  }
}

// max(x, +0) keeps the second operand for NaN and for -0, which is relu's
// +0 in both cases.
void f32_relu_avx2(const float* in, float* out, std::size_t n) {
  const __m256 zero = _mm256_setzero_ps();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(out + i, _mm256_max_ps(_mm256_loadu_ps(in + i), zero));
  for (; i < n; ++i) out[i] = in[i] > 0.0f ? in[i] : 0.0f;
}

}  // namespace tessary::cpu::tiers
