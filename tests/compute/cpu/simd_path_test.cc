#include "compute/cpu/simd_path.h"

#include <gtest/gtest.h>

namespace tessary::cpu {
namespace {

TEST(SimdTier, DetectionAndPinning) {
  const SimdPath cpu = detected_cpu_path();
  EXPECT_EQ(detect_path(), cpu);
  EXPECT_EQ(detect_path(), detect_path());  // cached, stable
  if (cpu == SimdPath::Avx512 || cpu == SimdPath::Avx2) {
    EXPECT_TRUE(cpu_has_avx2());
  }

  ASSERT_TRUE(force_simd_path(SimdPath::Scalar));
  EXPECT_EQ(detect_path(), SimdPath::Scalar);
  EXPECT_EQ(exp_path(), SimdPath::Scalar);  // a pinned scalar tier uses the 4-lane exponential
  for (SimdPath p : {SimdPath::Avx2, SimdPath::Avx512}) {
    const bool runs = static_cast<int>(p) <= static_cast<int>(cpu);
    EXPECT_EQ(force_simd_path(p), runs);
    EXPECT_EQ(detect_path(), runs ? p : SimdPath::Scalar);
    if (runs) {
      EXPECT_EQ(exp_path(), p);
      force_simd_path(SimdPath::Scalar);
    }
  }
  EXPECT_TRUE(force_simd_path(std::nullopt));
  EXPECT_EQ(detect_path(), cpu);
  // Unpinned, the exponential runs on AVX2 whenever the CPU has it.
  EXPECT_EQ(exp_path(), cpu == SimdPath::Scalar && cpu_has_avx2() ? SimdPath::Avx2 : cpu);
}

}  // namespace
}  // namespace tessary::cpu
