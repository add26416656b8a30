// The fast exponential eight lanes at a time, and the activations built on
// it (sigmoid, tanh, gelu, silu) fused into one pass. Each lane performs the
// scalar steps of fast_exp.h and activation_scalar.h in the same order with
// separate roundings, so results match the scalar forms bit for bit.
//
// The exponential's 8-lane loop also serves CPUs that have AVX2 but lack
// FMA, so FMA is switched off for this file whatever the build enables.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("no-fma")

#include <immintrin.h>

#include <cstdint>

#include "compute/cpu/f32_tier_kernels.h"

namespace tessary::cpu::tiers {
namespace {

__m256 fast_exp8(__m256 x) {
  const __m256 valid = _mm256_cmp_ps(x, _mm256_set1_ps(-87.33654f), _CMP_GE_OQ);  // false for NaN
  x = _mm256_min_ps(x, _mm256_set1_ps(88.0f));
  const __m256 t = _mm256_mul_ps(x, _mm256_set1_ps(1.442695f));
  const __m256 half = _mm256_blendv_ps(_mm256_set1_ps(-0.5f), _mm256_set1_ps(0.5f),
                                       _mm256_cmp_ps(t, _mm256_setzero_ps(), _CMP_GE_OQ));
  const __m256i n = _mm256_cvttps_epi32(_mm256_add_ps(t, half));
  const __m256 nf = _mm256_cvtepi32_ps(n);
  const __m256 r = _mm256_add_ps(_mm256_add_ps(x, _mm256_mul_ps(nf, _mm256_set1_ps(-0.693359375f))),
                                 _mm256_mul_ps(nf, _mm256_set1_ps(0.00021219444f)));
  __m256 p = _mm256_add_ps(_mm256_mul_ps(r, _mm256_set1_ps(0.0013888889f)), _mm256_set1_ps(0.008333334f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(0.041666668f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(0.16666667f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(0.5f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(1.0f));
  p = _mm256_add_ps(_mm256_mul_ps(p, r), _mm256_set1_ps(1.0f));
  __m256i bits = _mm256_add_epi32(_mm256_slli_epi32(n, 23), _mm256_set1_epi32(0x3F800000));
  bits = _mm256_min_epu32(bits, _mm256_set1_epi32(0x7F000000));
  return _mm256_and_ps(_mm256_mul_ps(_mm256_castsi256_ps(bits), p), valid);
}

__m256 neg8(__m256 x) { return _mm256_xor_ps(x, _mm256_set1_ps(-0.0f)); }

struct Exp {
  static __m256 apply(__m256 x) { return fast_exp8(x); }
};

struct Sigmoid {
  static __m256 apply(__m256 x) {
    const __m256 one = _mm256_set1_ps(1.0f);
    return _mm256_div_ps(one, _mm256_add_ps(fast_exp8(neg8(x)), one));
  }
};

struct Tanh {
  static __m256 apply(__m256 x) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 e = fast_exp8(_mm256_mul_ps(x, _mm256_set1_ps(2.0f)));
    return _mm256_div_ps(_mm256_sub_ps(e, one), _mm256_add_ps(e, one));
  }
};

struct Gelu {
  static __m256 apply(__m256 x) {
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 cube = _mm256_mul_ps(_mm256_mul_ps(_mm256_mul_ps(_mm256_set1_ps(0.044715f), x), x), x);
    const __m256 inner = _mm256_add_ps(cube, x);
    const __m256 u = _mm256_mul_ps(_mm256_mul_ps(inner, _mm256_set1_ps(0.7978846f)), _mm256_set1_ps(2.0f));
    const __m256 e = fast_exp8(u);
    const __m256 th = _mm256_div_ps(_mm256_sub_ps(e, one), _mm256_add_ps(e, one));
    return _mm256_mul_ps(_mm256_add_ps(th, one), _mm256_mul_ps(_mm256_set1_ps(0.5f), x));
  }
};

struct Silu {
  static __m256 apply(__m256 x) {
    const __m256 one = _mm256_set1_ps(1.0f);
    return _mm256_mul_ps(x, _mm256_div_ps(one, _mm256_add_ps(fast_exp8(neg8(x)), one)));
  }
};

// Whole vectors first; the last few elements go through one zero-padded
// vector so they take exactly the same steps.
template <typename Op>
void run(const float* in, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) _mm256_storeu_ps(out + i, Op::apply(_mm256_loadu_ps(in + i)));
  if (i < n) {
    alignas(32) float lane[8] = {};
    const std::size_t rest = n - i;
    for (std::size_t j = 0; j < rest; ++j) lane[j] = in[i + j];
    _mm256_store_ps(lane, Op::apply(_mm256_load_ps(lane)));
    for (std::size_t j = 0; j < rest; ++j) out[i + j] = lane[j];
  }
}

}  // namespace

void f32_exp_avx2(float* x, std::size_t n) { run<Exp>(x, x, n); }
void f32_sigmoid_avx2(const float* in, float* out, std::size_t n) { run<Sigmoid>(in, out, n); }
void f32_tanh_avx2(const float* in, float* out, std::size_t n) { run<Tanh>(in, out, n); }
void f32_gelu_avx2(const float* in, float* out, std::size_t n) { run<Gelu>(in, out, n); }
void f32_silu_avx2(const float* in, float* out, std::size_t n) { run<Silu>(in, out, n); }

}  // namespace tessary::cpu::tiers
