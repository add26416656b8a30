#pragma once
// Binary32 row loops of softmax and the norms, dispatched on the SIMD tier.
// Each step is one correctly rounded operation in the order written, so the
// values are the same on every tier. out may be the same array as an input,
// not a shifted overlap.
#include <cstddef>

namespace tessary::cpu {

// out[i] = x[i] - c
void row_sub_const(const float* x, float c, float* out, std::size_t n);
// out[i] = x[i] / c (a division per element, not a reciprocal multiply)
void row_div_const(const float* x, float c, float* out, std::size_t n);
// out[i] = (c * x[i]) * g[i]; g null: c * x[i]
void row_scale_mul(const float* x, float c, const float* g, float* out, std::size_t n);
// out[i] = b[i] + g[i] * (c * d[i]); g null: c * d[i]; b null: + 0
void row_affine(const float* d, float c, const float* g, const float* b, float* out, std::size_t n);
// out[i] = b + *g * (c * d[i]); g null: b + c * d[i]
void row_affine_const(const float* d, float c, const float* g, float b, float* out, std::size_t n);

}  // namespace tessary::cpu
