#include "compute/cpu/vector_primitives.h"

#include <algorithm>

#include "compute/cpu/f32_tier_kernels.h"
#include "compute/cpu/simd_path.h"

namespace tessary::cpu {

using namespace tiers;

void simd_f32_add(std::span<const float> a, std::span<const float> b, std::span<float> out) {
  const std::size_t n = std::min({a.size(), b.size(), out.size()});
  switch (detect_path()) {
    case SimdPath::Avx512: return f32_add_avx512(a.data(), b.data(), out.data(), n);
    case SimdPath::Avx2: return f32_add_avx2(a.data(), b.data(), out.data(), n);
    case SimdPath::Scalar: break;
  }
  f32_add_scalar(a.data(), b.data(), out.data(), n);
}

void simd_f32_mul(std::span<const float> a, std::span<const float> b, std::span<float> out) {
  const std::size_t n = std::min({a.size(), b.size(), out.size()});
  switch (detect_path()) {
    case SimdPath::Avx512: return f32_mul_avx512(a.data(), b.data(), out.data(), n);
    case SimdPath::Avx2: return f32_mul_avx2(a.data(), b.data(), out.data(), n);
    case SimdPath::Scalar: break;
  }
  f32_mul_scalar(a.data(), b.data(), out.data(), n);
}

float simd_f32_sum(std::span<const float> x) {
  switch (detect_path()) {
    case SimdPath::Avx512: return f32_sum_avx512(x.data(), x.size());
    case SimdPath::Avx2: return f32_sum_avx2(x.data(), x.size());
    case SimdPath::Scalar: break;
  }
  return f32_sum_scalar(x.data(), x.size());
}

float simd_f32_dot(std::span<const float> a, std::span<const float> b) {
  const std::size_t n = std::min(a.size(), b.size());
  switch (detect_path()) {
    case SimdPath::Avx512: return f32_dot_avx512(a.data(), b.data(), n);
    case SimdPath::Avx2: return f32_dot_avx2(a.data(), b.data(), n);
    case SimdPath::Scalar: break;
  }
  return f32_dot_scalar(a.data(), b.data(), n);
}

float simd_f32_max(std::span<const float> x) {
  switch (detect_path()) {
    case SimdPath::Avx512: return f32_max_avx512(x.data(), x.size());
    case SimdPath::Avx2: return f32_max_avx2(x.data(), x.size());
    case SimdPath::Scalar: break;
  }
  return f32_max_scalar(x.data(), x.size());
}

float simd_f32_min(std::span<const float> x) {
  switch (detect_path()) {
    case SimdPath::Avx512: return f32_min_avx512(x.data(), x.size());
    case SimdPath::Avx2: return f32_min_avx2(x.data(), x.size());
    case SimdPath::Scalar: break;
  }
  return f32_min_scalar(x.data(), x.size());
}

void simd_f32_axpy(std::span<float> y, std::span<const float> x, float alpha) {
  const std::size_t n = std::min(y.size(), x.size());
  switch (detect_path()) {
    case SimdPath::Avx512: return f32_axpy_avx512(y.data(), x.data(), n, alpha);
    case SimdPath::Avx2: return f32_axpy_avx2(y.data(), x.data(), n, alpha);
    case SimdPath::Scalar: break;
  }
  f32_axpy_scalar(y.data(), x.data(), n, alpha);
}

void simd_f32_exp_inplace(std::span<float> x) {
  switch (exp_path()) {
    case SimdPath::Avx512: return f32_exp_avx512(x.data(), x.size());
    case SimdPath::Avx2: return f32_exp_avx2(x.data(), x.size());
    case SimdPath::Scalar: break;
  }
  f32_exp_sse2(x.data(), x.size());
}

}  // namespace tessary::cpu
