#include "compute/cpu/widen_lowp.h"

#include "compute/cpu/matmul_tier_kernels.h"
#include "compute/cpu/simd_path.h"
#include "types/float16.h"

namespace tessary::cpu {
namespace {

bool cpu_has_fma_f16c() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("f16c");
  }();
  return has;
}

std::uint16_t load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

// The vector small-m engine needs F16C and FMA besides AVX2, so all three
// are required; a pinned scalar tier keeps the scalar forms so tests can
// reach them on any machine.
bool lowp_vector_path() { return exp_path() != SimdPath::Scalar && cpu_has_fma_f16c(); }

void widen_lowp_to_f32(const std::uint8_t* bytes, float* out, std::size_t count, HalfFormat format) {
  if (lowp_vector_path()) {
    if (format == HalfFormat::BF16) return mm::widen_bf16_avx2(bytes, out, count);
    return mm::widen_f16_avx2(bytes, out, count);
  }
  if (format == HalfFormat::BF16) {
    for (std::size_t i = 0; i < count; ++i) out[i] = bf16_bits_to_f32(load16(bytes + 2 * i));
  } else {
    for (std::size_t i = 0; i < count; ++i) out[i] = f16_bits_to_f32(load16(bytes + 2 * i));
  }
}

}  // namespace tessary::cpu
