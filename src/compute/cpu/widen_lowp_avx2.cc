// AVX2 / F16C widening of 16-bit float patterns to binary32.
#include <immintrin.h>

#include <cstring>

#include "compute/cpu/matmul_tier_kernels.h"

namespace tessary::cpu::mm {
namespace {

// vcvtph2ps quiets a signalling NaN; the scalar conversion keeps the quiet
// bit as it was. Lanes whose f16 input is a signalling NaN (exponent all
// ones, mantissa non-zero, quiet bit clear) get bit 22 cleared again.
inline __m256 f16_to_f32_exact(__m128i h) {
  const __m256 f = _mm256_cvtph_ps(h);
  const __m256i x = _mm256_cvtepu16_epi32(h);
  const __m256i exp_all = _mm256_cmpeq_epi32(_mm256_and_si256(x, _mm256_set1_epi32(0x7C00)), _mm256_set1_epi32(0x7C00));
  const __m256i man = _mm256_and_si256(x, _mm256_set1_epi32(0x03FF));
  const __m256i man_nonzero = _mm256_xor_si256(_mm256_cmpeq_epi32(man, _mm256_setzero_si256()), _mm256_set1_epi32(-1));
  const __m256i quiet_clear = _mm256_cmpeq_epi32(_mm256_and_si256(x, _mm256_set1_epi32(0x0200)), _mm256_setzero_si256());
  const __m256i snan = _mm256_and_si256(_mm256_and_si256(exp_all, man_nonzero), quiet_clear);
  const __m256i fix = _mm256_and_si256(snan, _mm256_set1_epi32(0x00400000));
  return _mm256_castsi256_ps(_mm256_andnot_si256(fix, _mm256_castps_si256(f)));
}

inline std::uint32_t f16_scalar_bits(std::uint16_t h) {
  __m128i v = _mm_cvtsi32_si128(h);
  const __m256 f = f16_to_f32_exact(v);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_castps_si128(_mm256_castps256_ps128(f))));
}

}  // namespace

void widen_f16_avx2(const std::uint8_t* bytes, float* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i));
    _mm256_storeu_ps(out + i, f16_to_f32_exact(h));
  }
  for (; i < count; ++i) {
    std::uint16_t h;
    std::memcpy(&h, bytes + 2 * i, 2);
    const std::uint32_t bits = f16_scalar_bits(h);
    std::memcpy(out + i, &bits, 4);
  }
}

void widen_bf16_avx2(const std::uint8_t* bytes, float* out, std::size_t count) {
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_slli_epi32(_mm256_cvtepu16_epi32(h), 16));
  }
  for (; i < count; ++i) {
    std::uint16_t h;
    std::memcpy(&h, bytes + 2 * i, 2);
    const std::uint32_t bits = static_cast<std::uint32_t>(h) << 16;
    std::memcpy(out + i, &bits, 4);
  }
}

}  // namespace tessary::cpu::mm
