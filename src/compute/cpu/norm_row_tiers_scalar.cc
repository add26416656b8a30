// Scalar tier of the softmax and norm row loops.
#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/norm_row_tiers.h"

namespace tessary::cpu::tiers {

void row_sub_const_scalar(const float* x, float c, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = x[i] - c;
}

void row_div_const_scalar(const float* x, float c, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = x[i] / c;
}

void row_scale_mul_scalar(const float* x, float c, const float* g, float* out, std::size_t n) {
  if (g == nullptr) {
    for (std::size_t i = 0; i < n; ++i) out[i] = c * x[i];
    return;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const float s = c * x[i];
    out[i] = s * g[i];
  }
}

void row_affine_scalar(const float* d, float c, const float* g, const float* b, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    float v = c * d[i];
    if (g != nullptr) v = g[i] * v;
    out[i] = (b != nullptr ? b[i] : 0.0f) + v;
  }
}

void row_affine_const_scalar(const float* d, float c, const float* g, float b, float* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    float v = c * d[i];
    if (g != nullptr) v = *g * v;
    out[i] = b + v;
  }
}

}  // namespace tessary::cpu::tiers
