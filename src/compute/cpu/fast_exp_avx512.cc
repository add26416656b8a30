// The fast exponential sixteen lanes at a time, and the activations built on
// it (sigmoid, tanh, gelu, silu) fused into one pass. Each lane performs the
// scalar steps of fast_exp.h and activation_scalar.h in the same order with
// separate roundings, so results match the scalar forms bit for bit.
//
// Tier 3 is chosen on AVX-512F alone, so the wider AVX-512 subsets that the
// build enables for this file are switched off again: the compiler may then
// not emit them either. Contraction is off so that only the written
// operations round.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("no-avx512bw,no-avx512dq,no-avx512vl")

#include <immintrin.h>

#include <cstdint>

#include "compute/cpu/f32_tier_kernels.h"

namespace tessary::cpu::tiers {
namespace {

__m512 fast_exp16(__m512 x) {
  const __mmask16 valid = _mm512_cmp_ps_mask(x, _mm512_set1_ps(-87.33654f), _CMP_GE_OQ);  // false for NaN
  x = _mm512_min_ps(x, _mm512_set1_ps(88.0f));
  const __m512 t = _mm512_mul_ps(x, _mm512_set1_ps(1.442695f));
  const __mmask16 nonneg = _mm512_cmp_ps_mask(t, _mm512_setzero_ps(), _CMP_GE_OQ);
  const __m512 half = _mm512_mask_blend_ps(nonneg, _mm512_set1_ps(-0.5f), _mm512_set1_ps(0.5f));
  const __m512i n = _mm512_cvttps_epi32(_mm512_add_ps(t, half));
  const __m512 nf = _mm512_cvtepi32_ps(n);
  const __m512 r = _mm512_add_ps(_mm512_add_ps(x, _mm512_mul_ps(nf, _mm512_set1_ps(-0.693359375f))),
                                 _mm512_mul_ps(nf, _mm512_set1_ps(0.00021219444f)));
  __m512 p = _mm512_add_ps(_mm512_mul_ps(r, _mm512_set1_ps(0.0013888889f)), _mm512_set1_ps(0.008333334f));
  p = _mm512_add_ps(_mm512_mul_ps(p, r), _mm512_set1_ps(0.041666668f));
  p = _mm512_add_ps(_mm512_mul_ps(p, r), _mm512_set1_ps(0.16666667f));
  p = _mm512_add_ps(_mm512_mul_ps(p, r), _mm512_set1_ps(0.5f));
  p = _mm512_add_ps(_mm512_mul_ps(p, r), _mm512_set1_ps(1.0f));
  p = _mm512_add_ps(_mm512_mul_ps(p, r), _mm512_set1_ps(1.0f));
  __m512i bits = _mm512_add_epi32(_mm512_slli_epi32(n, 23), _mm512_set1_epi32(0x3F800000));
  bits = _mm512_min_epu32(bits, _mm512_set1_epi32(0x7F000000));
  return _mm512_maskz_mov_ps(valid, _mm512_mul_ps(_mm512_castsi512_ps(bits), p));
}

// Sign flip through the integer unit: the float xor needs AVX-512DQ.
__m512 neg16(__m512 x) {
  return _mm512_castsi512_ps(_mm512_xor_si512(_mm512_castps_si512(x), _mm512_set1_epi32(INT32_MIN)));
}

struct Exp {
  static __m512 apply(__m512 x) { return fast_exp16(x); }
};

struct Sigmoid {
  static __m512 apply(__m512 x) {
    const __m512 one = _mm512_set1_ps(1.0f);
    return _mm512_div_ps(one, _mm512_add_ps(fast_exp16(neg16(x)), one));
  }
};

struct Tanh {
  static __m512 apply(__m512 x) {
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 e = fast_exp16(_mm512_mul_ps(x, _mm512_set1_ps(2.0f)));
    return _mm512_div_ps(_mm512_sub_ps(e, one), _mm512_add_ps(e, one));
  }
};

struct Gelu {
  static __m512 apply(__m512 x) {
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 cube = _mm512_mul_ps(_mm512_mul_ps(_mm512_mul_ps(_mm512_set1_ps(0.044715f), x), x), x);
    const __m512 inner = _mm512_add_ps(cube, x);
    const __m512 u = _mm512_mul_ps(_mm512_mul_ps(inner, _mm512_set1_ps(0.7978846f)), _mm512_set1_ps(2.0f));
    const __m512 e = fast_exp16(u);
    const __m512 th = _mm512_div_ps(_mm512_sub_ps(e, one), _mm512_add_ps(e, one));
    return _mm512_mul_ps(_mm512_add_ps(th, one), _mm512_mul_ps(_mm512_set1_ps(0.5f), x));
  }
};

struct Silu {
  static __m512 apply(__m512 x) {
    const __m512 one = _mm512_set1_ps(1.0f);
    return _mm512_mul_ps(x, _mm512_div_ps(one, _mm512_add_ps(fast_exp16(neg16(x)), one)));
  }
};

template <typename Op>
void run(const float* in, float* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) _mm512_storeu_ps(out + i, Op::apply(_mm512_loadu_ps(in + i)));
  if (i < n) {
    const auto m = static_cast<__mmask16>((1u << (n - i)) - 1u);
    _mm512_mask_storeu_ps(out + i, m, Op::apply(_mm512_maskz_loadu_ps(m, in + i)));
  }
}

}  // namespace

void f32_exp_avx512(float* x, std::size_t n) { run<Exp>(x, x, n); }
void f32_sigmoid_avx512(const float* in, float* out, std::size_t n) { run<Sigmoid>(in, out, n); }
void f32_tanh_avx512(const float* in, float* out, std::size_t n) { run<Tanh>(in, out, n); }
void f32_gelu_avx512(const float* in, float* out, std::size_t n) { run<Gelu>(in, out, n); }
void f32_silu_avx512(const float* in, float* out, std::size_t n) { run<Silu>(in, out, n); }

}  // namespace tessary::cpu::tiers
