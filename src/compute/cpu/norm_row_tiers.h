#pragma once
// Per-tier binary32 row loops of softmax and the norms. Every operation here
// is a single correctly rounded multiply, divide, add or subtract per step,
// in the order written, so all tiers give the same values; the tiers differ
// only in speed. Raw pointers only, for the reason given in
// f32_tier_kernels.h. out may be the same array as an input, not a shifted
// overlap.
#include <cstddef>

namespace tessary::cpu::tiers {

// out[i] = x[i] - c
void row_sub_const_scalar(const float* x, float c, float* out, std::size_t n);
void row_sub_const_avx2(const float* x, float c, float* out, std::size_t n);
void row_sub_const_avx512(const float* x, float c, float* out, std::size_t n);

// out[i] = x[i] / c
void row_div_const_scalar(const float* x, float c, float* out, std::size_t n);
void row_div_const_avx2(const float* x, float c, float* out, std::size_t n);
void row_div_const_avx512(const float* x, float c, float* out, std::size_t n);

// out[i] = (c * x[i]) * g[i]; without g (null) out[i] = c * x[i].
void row_scale_mul_scalar(const float* x, float c, const float* g, float* out, std::size_t n);
void row_scale_mul_avx2(const float* x, float c, const float* g, float* out, std::size_t n);
void row_scale_mul_avx512(const float* x, float c, const float* g, float* out, std::size_t n);

// out[i] = b[i] + g[i] * (c * d[i]); without g the product is c * d[i],
// without b the sum is with +0 (so a -0 product becomes +0).
void row_affine_scalar(const float* d, float c, const float* g, const float* b, float* out, std::size_t n);
void row_affine_avx2(const float* d, float c, const float* g, const float* b, float* out, std::size_t n);
void row_affine_avx512(const float* d, float c, const float* g, const float* b, float* out, std::size_t n);

// The same with one gamma (*g, or none when g is null) and one beta for the
// whole run: out[i] = b + *g * (c * d[i]).
void row_affine_const_scalar(const float* d, float c, const float* g, float b, float* out, std::size_t n);
void row_affine_const_avx2(const float* d, float c, const float* g, float b, float* out, std::size_t n);
void row_affine_const_avx512(const float* d, float c, const float* g, float b, float* out, std::size_t n);

}  // namespace tessary::cpu::tiers
