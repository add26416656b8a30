#include "compute/cpu/norm_row_ops.h"

#include "compute/cpu/norm_row_tiers.h"
#include "compute/cpu/simd_path.h"

namespace tessary::cpu {

using namespace tiers;

void row_sub_const(const float* x, float c, float* out, std::size_t n) {
  switch (detect_path()) {
    case SimdPath::Avx512: return row_sub_const_avx512(x, c, out, n);
    case SimdPath::Avx2: return row_sub_const_avx2(x, c, out, n);
    case SimdPath::Scalar: break;
  }
  row_sub_const_scalar(x, c, out, n);
}

void row_div_const(const float* x, float c, float* out, std::size_t n) {
  switch (detect_path()) {
    case SimdPath::Avx512: return row_div_const_avx512(x, c, out, n);
    case SimdPath::Avx2: return row_div_const_avx2(x, c, out, n);
    case SimdPath::Scalar: break;
  }
  row_div_const_scalar(x, c, out, n);
}

void row_scale_mul(const float* x, float c, const float* g, float* out, std::size_t n) {
  switch (detect_path()) {
    case SimdPath::Avx512: return row_scale_mul_avx512(x, c, g, out, n);
    case SimdPath::Avx2: return row_scale_mul_avx2(x, c, g, out, n);
    case SimdPath::Scalar: break;
  }
  row_scale_mul_scalar(x, c, g, out, n);
}

void row_affine(const float* d, float c, const float* g, const float* b, float* out, std::size_t n) {
  switch (detect_path()) {
    case SimdPath::Avx512: return row_affine_avx512(d, c, g, b, out, n);
    case SimdPath::Avx2: return row_affine_avx2(d, c, g, b, out, n);
    case SimdPath::Scalar: break;
  }
  row_affine_scalar(d, c, g, b, out, n);
}

void row_affine_const(const float* d, float c, const float* g, float b, float* out, std::size_t n) {
  switch (detect_path()) {
    case SimdPath::Avx512: return row_affine_const_avx512(d, c, g, b, out, n);
    case SimdPath::Avx2: return row_affine_const_avx2(d, c, g, b, out, n);
    case SimdPath::Scalar: break;
  }
  row_affine_const_scalar(d, c, g, b, out, n);
}

}  // namespace tessary::cpu
