#pragma once
// Runs a test once per SIMD tier by pinning the tier for its duration.
// A tier this CPU cannot run is skipped (and shows as skipped).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "compute/cpu/simd_path.h"

namespace tessary::cpu {

inline void PrintTo(SimdPath p, std::ostream* os) { *os << "tier " << static_cast<int>(p); }

class TierTest : public ::testing::TestWithParam<SimdPath> {
 protected:
  void SetUp() override {
    if (!force_simd_path(GetParam())) GTEST_SKIP() << "tier not supported by this CPU";
  }
  void TearDown() override { force_simd_path(std::nullopt); }
};

inline std::string tier_name(const ::testing::TestParamInfo<SimdPath>& info) {
  switch (info.param) {
    case SimdPath::Scalar: return "Scalar";
    case SimdPath::Avx2: return "Avx2";
    case SimdPath::Avx512: return "Avx512";
  }
  return "Unknown";
}

#define TESSARY_ALL_TIERS(suite)                                                                                \
  INSTANTIATE_TEST_SUITE_P(Tiers, suite,                                                                        \
                           ::testing::Values(SimdPath::Scalar, SimdPath::Avx2, SimdPath::Avx512), tier_name)

}  // namespace tessary::cpu
