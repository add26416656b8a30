#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/matmul_lowp_gemv.h"

#include "compute/cpu/matmul_tier_kernels.h"
#include "compute/cpu/widen_lowp.h"
#include "types/float16.h"

namespace tessary::cpu {
namespace {

template <bool Bf16>
float decode(const std::uint8_t* p) {
  const auto h = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
  return Bf16 ? bf16_bits_to_f32(h) : f16_bits_to_f32(h);
}

template <bool Bf16>
void scalar_gemv(const float* a, const std::uint8_t* b, float* c, std::size_t m, std::size_t k, std::size_t n) {
  for (std::size_t i = 0; i < m; ++i) {
    float* cr = c + i * n;
    for (std::size_t j = 0; j < n; ++j) cr[j] = 0.0f;
    for (std::size_t kk = 0; kk < k; ++kk) {
      const float x = a[i * k + kk];
      const std::uint8_t* br = b + 2 * kk * n;
      for (std::size_t j = 0; j < n; ++j) cr[j] = cr[j] + decode<Bf16>(br + 2 * j) * x;
    }
  }
}

}  // namespace

void matmul_lowp_gemv(const float* a, const std::uint8_t* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                      HalfFormat format) {
  if (m == 0 || k == 0 || n == 0) return;
  const bool bf16 = format == HalfFormat::BF16;
  if (lowp_vector_path()) return mm::lowp_gemv_avx2(m, k, n, a, b, c, bf16);
  if (bf16) {
    scalar_gemv<true>(a, b, c, m, k, n);
  } else {
    scalar_gemv<false>(a, b, c, m, k, n);
  }
}

}  // namespace tessary::cpu
