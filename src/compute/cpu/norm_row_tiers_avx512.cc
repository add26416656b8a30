// AVX-512F tier of the softmax and norm row loops: sixteen lanes, the tail
// under a lane mask with the same operations.
//
// Tier 3 is chosen on AVX-512F alone, so the wider AVX-512 subsets that the
// build enables for this file are switched off again.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("no-avx512bw,no-avx512dq,no-avx512vl")

#include <immintrin.h>

#include "compute/cpu/norm_row_tiers.h"

namespace tessary::cpu::tiers {
namespace {

__mmask16 tail_mask(std::size_t count) { return static_cast<__mmask16>((1u << count) - 1u); }

// Runs op(load, i) over whole blocks of 16 and then the masked tail, where
// load(p) reads 16 lanes at p (only the tail's lanes in the last block) and
// the result is stored under the same mask.
template <typename Op>
void each16(float* out, std::size_t n, Op op) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    _mm512_storeu_ps(out + i, op([](const float* p) { return _mm512_loadu_ps(p); }, i));
  }
  if (i < n) {
    const __mmask16 m = tail_mask(n - i);
    _mm512_mask_storeu_ps(out + i, m, op([m](const float* p) { return _mm512_maskz_loadu_ps(m, p); }, i));
  }
}

template <bool HasG, bool HasB>
void affine(const float* d, float c, const float* g, const float* b, float* out, std::size_t n) {
  const __m512 vc = _mm512_set1_ps(c);
  const __m512 zero = _mm512_setzero_ps();
  each16(out, n, [&](auto load, std::size_t i) {
    __m512 v = _mm512_mul_ps(vc, load(d + i));
    if constexpr (HasG) v = _mm512_mul_ps(load(g + i), v);
    if constexpr (HasB) return _mm512_add_ps(load(b + i), v);
    return _mm512_add_ps(zero, v);
  });
}

template <bool HasG>
void affine_const(const float* d, float c, float g, float b, float* out, std::size_t n) {
  const __m512 vc = _mm512_set1_ps(c);
  const __m512 vg = _mm512_set1_ps(g);
  const __m512 vb = _mm512_set1_ps(b);
  each16(out, n, [&](auto load, std::size_t i) {
    __m512 v = _mm512_mul_ps(vc, load(d + i));
    if constexpr (HasG) v = _mm512_mul_ps(vg, v);
    return _mm512_add_ps(vb, v);
  });
}

}  // namespace

void row_sub_const_avx512(const float* x, float c, float* out, std::size_t n) {
  const __m512 vc = _mm512_set1_ps(c);
  each16(out, n, [&](auto load, std::size_t i) { return _mm512_sub_ps(load(x + i), vc); });
}

void row_div_const_avx512(const float* x, float c, float* out, std::size_t n) {
  const __m512 vc = _mm512_set1_ps(c);
  each16(out, n, [&](auto load, std::size_t i) { return _mm512_div_ps(load(x + i), vc); });
}

void row_scale_mul_avx512(const float* x, float c, const float* g, float* out, std::size_t n) {
  const __m512 vc = _mm512_set1_ps(c);
  if (g == nullptr) {
    each16(out, n, [&](auto load, std::size_t i) { return _mm512_mul_ps(vc, load(x + i)); });
    return;
  }
  each16(out, n, [&](auto load, std::size_t i) { return _mm512_mul_ps(_mm512_mul_ps(vc, load(x + i)), load(g + i)); });
}

void row_affine_avx512(const float* d, float c, const float* g, const float* b, float* out, std::size_t n) {
  if (g != nullptr) {
    return b != nullptr ? affine<true, true>(d, c, g, b, out, n) : affine<true, false>(d, c, g, b, out, n);
  }
  return b != nullptr ? affine<false, true>(d, c, g, b, out, n) : affine<false, false>(d, c, g, b, out, n);
}

void row_affine_const_avx512(const float* d, float c, const float* g, float b, float* out, std::size_t n) {
  if (g != nullptr) return affine_const<true>(d, c, *g, b, out, n);
  return affine_const<false>(d, c, 0.0f, b, out, n);
}

}  // namespace tessary::cpu::tiers
