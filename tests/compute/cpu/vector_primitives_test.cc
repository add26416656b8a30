#include "compute/cpu/vector_primitives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/tier_fixture.h"

namespace tessary::cpu {
namespace {

using oracle::bits;

// Left-to-right sum of lanes.
float lanes_left_to_right(const float* v, int lanes) {
  float s = v[0];
  for (int l = 1; l < lanes; ++l) s += v[l];
  return s;
}

// Upper half onto lower half until one lane remains.
float lanes_pairwise(const float* v, int lanes) {
  float t[16];
  for (int l = 0; l < lanes; ++l) t[l] = v[l];
  for (int half = lanes / 2; half >= 1; half /= 2) {
    for (int l = 0; l < half; ++l) t[l] = t[l] + t[l + half];
  }
  return t[0];
}

float sum_ref(SimdPath tier, const std::vector<float>& x, std::size_t off, std::size_t n) {
  const float* p = x.data() + off;
  if (tier == SimdPath::Scalar) {
    float s = 0.0f;
    for (std::size_t i = 0; i < n; ++i) s += p[i];
    return s;
  }
  const int lanes = tier == SimdPath::Avx2 ? 8 : 16;
  const std::size_t block = 4 * static_cast<std::size_t>(lanes);
  float acc[4][16] = {};
  std::size_t i = 0;
  for (; i + block <= n; i += block) {
    for (int j = 0; j < 4; ++j) {
      for (int l = 0; l < lanes; ++l) acc[j][l] += p[i + j * lanes + l];
    }
  }
  float v[16];
  float s;
  if (tier == SimdPath::Avx2) {
    for (int l = 0; l < lanes; ++l) v[l] = (acc[3][l] + acc[2][l]) + (acc[1][l] + acc[0][l]);
    s = lanes_left_to_right(v, lanes);
  } else {
    for (int l = 0; l < lanes; ++l) v[l] = (acc[1][l] + acc[0][l]) + (acc[2][l] + acc[3][l]);
    s = lanes_pairwise(v, lanes);
  }
  for (; i < n; ++i) s += p[i];
  return s;
}

float dot_ref(SimdPath tier, const float* a, const float* b, std::size_t n) {
  if (tier == SimdPath::Scalar) {
    float s = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
      const float prod = a[i] * b[i];
      s += prod;
    }
    return s;
  }
  const int lanes = tier == SimdPath::Avx2 ? 8 : 16;
  const auto reduce = tier == SimdPath::Avx2 ? lanes_left_to_right : lanes_pairwise;
  const std::size_t block = 4 * static_cast<std::size_t>(lanes);
  float acc[4][16] = {};
  std::size_t i = 0;
  for (; i + block <= n; i += block) {
    for (int j = 0; j < 4; ++j) {
      for (int l = 0; l < lanes; ++l) {
        const std::size_t k = i + j * lanes + l;
        acc[j][l] = std::fma(a[k], b[k], acc[j][l]);
      }
    }
  }
  float v[16];
  for (int l = 0; l < lanes; ++l) v[l] = (acc[3][l] + acc[2][l]) + (acc[1][l] + acc[0][l]);
  float s = reduce(v, lanes);
  for (; i + lanes <= n; i += lanes) {
    float prod[16];
    for (int l = 0; l < lanes; ++l) prod[l] = a[i + l] * b[i + l];
    s += reduce(prod, lanes);
  }
  if (tier == SimdPath::Avx512) {
    for (; i + 4 <= n; i += 4) {
      const float p0 = a[i] * b[i], p1 = a[i + 1] * b[i + 1], p2 = a[i + 2] * b[i + 2], p3 = a[i + 3] * b[i + 3];
      s += (p0 + p2) + (p1 + p3);
    }
  }
  for (; i < n; ++i) {
    const float prod = a[i] * b[i];
    s += prod;
  }
  return s;
}

// Values of widely different magnitudes, so that a different order of
// additions shows in the result.
std::vector<float> mixed_values(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
  std::uniform_int_distribution<int> expo(-12, 12);
  std::vector<float> v(n);
  for (float& x : v) x = std::ldexp(mant(rng), expo(rng));
  return v;
}

// Lengths below, at and above every block width (8, 16, 32, 64 and the
// further blocks and groups after them), plus a long one.
std::vector<std::size_t> sweep_lengths() {
  std::vector<std::size_t> n;
  for (std::size_t i = 0; i <= 140; ++i) n.push_back(i);
  for (std::size_t i : {191u, 192u, 193u, 255u, 256u, 257u, 1000u, 4099u}) n.push_back(i);
  return n;
}

// Start offsets in elements: 0 keeps the allocation's alignment, the others
// start off every vector boundary.
constexpr std::size_t kOffsets[] = {0, 1, 3, 5};

class VectorPrimitives : public TierTest {};

TEST_P(VectorPrimitives, SumFollowsTheTierBlockOrder) {
  const auto x = mixed_values(4200, 1);
  for (std::size_t off : kOffsets) {
    for (std::size_t n : sweep_lengths()) {
      const float got = simd_f32_sum(std::span<const float>(x.data() + off, n));
      ASSERT_EQ(bits(got), bits(sum_ref(GetParam(), x, off, n))) << "n=" << n << " off=" << off;
    }
  }
}

TEST_P(VectorPrimitives, DotFollowsTheTierBlockOrder) {
  const auto a = mixed_values(4200, 2);
  const auto b = mixed_values(4200, 3);
  for (std::size_t off : kOffsets) {
    for (std::size_t n : sweep_lengths()) {
      const float got = simd_f32_dot(std::span<const float>(a.data() + off, n), std::span<const float>(b.data(), n));
      ASSERT_EQ(bits(got), bits(dot_ref(GetParam(), a.data() + off, b.data(), n))) << "n=" << n << " off=" << off;
    }
  }
  // The length is the shorter operand's.
  EXPECT_EQ(bits(simd_f32_dot(std::span<const float>(a.data(), 100), std::span<const float>(b.data(), 37))),
            bits(dot_ref(GetParam(), a.data(), b.data(), 37)));
}

TEST_P(VectorPrimitives, AxpyFusesOnlyOnVectorTiers) {
  const auto x = mixed_values(300, 4);
  const auto y0 = mixed_values(300, 5);
  const float alpha = 0.3141592f;
  for (std::size_t off : kOffsets) {
    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 33u, 64u, 65u, 250u}) {
      std::vector<float> y = y0;
      simd_f32_axpy(std::span<float>(y.data() + off, n), std::span<const float>(x.data(), n + 10), alpha);
      for (std::size_t i = 0; i < y.size(); ++i) {
        float want = y0[i];
        if (i >= off && i < off + n) {
          const float xi = x[i - off];
          if (GetParam() == SimdPath::Scalar) {
            const float prod = alpha * xi;
            want = y0[i] + prod;
          } else {
            want = std::fma(alpha, xi, y0[i]);
          }
        }
        ASSERT_EQ(bits(y[i]), bits(want)) << "n=" << n << " off=" << off << " i=" << i;
      }
    }
  }
}

TEST_P(VectorPrimitives, AddAndMulAreExactPerElement) {
  const auto a = mixed_values(300, 6);
  const auto b = mixed_values(300, 7);
  for (std::size_t off : kOffsets) {
    for (std::size_t n : {0u, 1u, 4u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 33u, 64u, 100u, 257u}) {
      std::vector<float> sum(300, -1.0f), prod(300, -1.0f);
      simd_f32_add(std::span<const float>(a.data() + off, n), std::span<const float>(b.data(), n + 3),
                   std::span<float>(sum.data() + off, n));
      simd_f32_mul(std::span<const float>(a.data() + off, n), std::span<const float>(b.data(), n),
                   std::span<float>(prod.data() + off, n + 2));
      for (std::size_t i = 0; i < sum.size(); ++i) {
        const bool in = i >= off && i < off + n;
        ASSERT_EQ(bits(sum[i]), bits(in ? a[i] + b[i - off] : -1.0f)) << "n=" << n << " i=" << i;
        ASSERT_EQ(bits(prod[i]), bits(in ? a[i] * b[i - off] : -1.0f)) << "n=" << n << " i=" << i;
      }
    }
  }
  // The output may be one of the inputs.
  std::vector<float> c(a.begin(), a.begin() + 37);
  simd_f32_add(c, std::span<const float>(b.data(), 37), c);
  for (std::size_t i = 0; i < c.size(); ++i) EXPECT_EQ(bits(c[i]), bits(a[i] + b[i]));
}

TEST_P(VectorPrimitives, MaxMinSkipNaNAndHandleEmpty) {
  EXPECT_EQ(simd_f32_max({}), -oracle::inf());
  EXPECT_EQ(simd_f32_min({}), oracle::inf());
  const auto x = mixed_values(300, 8);
  for (std::size_t off : kOffsets) {
    for (std::size_t n = 1; n <= 140; ++n) {
      std::vector<float> v(x.begin() + off, x.begin() + off + n);
      // NaN at a few positions, including the first and the last.
      std::vector<float> with_nan = v;
      with_nan[0] = oracle::qnan();
      with_nan[n - 1] = oracle::qnan();
      with_nan[n / 2] = oracle::qnan();
      float hi = -oracle::inf(), lo = oracle::inf();
      for (float f : with_nan) {
        if (!std::isnan(f)) hi = std::max(hi, f), lo = std::min(lo, f);
      }
      EXPECT_EQ(simd_f32_max(with_nan), hi) << n;
      EXPECT_EQ(simd_f32_min(with_nan), lo) << n;
      float vhi = v[0], vlo = v[0];
      for (float f : v) vhi = std::max(vhi, f), vlo = std::min(vlo, f);
      ASSERT_EQ(simd_f32_max(v), vhi) << n;
      ASSERT_EQ(simd_f32_min(v), vlo) << n;
    }
  }
  const std::vector<float> all_nan(20, oracle::qnan());
  EXPECT_EQ(simd_f32_max(all_nan), -oracle::inf());
  EXPECT_EQ(simd_f32_min(all_nan), oracle::inf());
}

TEST_P(VectorPrimitives, ExpInplaceMatchesTheFormulaOnEveryValue) {
  // Every 4093rd bit pattern covers zeros, subnormals, normals of both signs,
  // infinities and NaNs; the edge arguments are added explicitly.
  std::vector<float> v;
  for (std::uint64_t b = 0; b <= 0xFFFFFFFFu; b += 4093) v.push_back(oracle::from_bits(static_cast<std::uint32_t>(b)));
  for (float e : {-87.33654f, -87.4f, -87.336533f, 88.0f, 89.0f, 88.72f, -0.0f, 0.0f, 0.5f, -0.5f, 1.0f}) v.push_back(e);
  for (std::size_t off : {0u, 1u, 2u, 3u}) {
    std::vector<float> got(v.begin() + off, v.end());
    simd_f32_exp_inplace(got);
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(bits(got[i]), bits(oracle::fastexp(v[i + off]))) << "x=" << v[i + off] << " off=" << off;
    }
  }
  // Short arrays take the remainder path only.
  for (std::size_t n = 0; n < 20; ++n) {
    std::vector<float> got(v.end() - static_cast<std::ptrdiff_t>(n), v.end());
    simd_f32_exp_inplace(got);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(bits(got[i]), bits(oracle::fastexp(v[v.size() - n + i])));
  }
}

TESSARY_ALL_TIERS(VectorPrimitives);

TEST(FastExp, EdgeValues) {
  const float tiny = oracle::fastexp(-87.33654f);
  EXPECT_GT(tiny, 0.0f);
  EXPECT_NEAR(tiny / std::ldexp(1.0f, -126), 1.0f, 1e-4f);
  EXPECT_EQ(oracle::fastexp(-87.4f), 0.0f);
  EXPECT_EQ(bits(oracle::fastexp(89.0f)), bits(oracle::fastexp(88.0f)));
  EXPECT_EQ(bits(oracle::fastexp(oracle::inf())), bits(oracle::fastexp(88.0f)));
  EXPECT_EQ(oracle::fastexp(oracle::qnan()), 0.0f);
  EXPECT_EQ(oracle::fastexp(0.0f), 1.0f);
  // The kernel on the edge values, through the dispatching entry point.
  std::vector<float> v = {-87.33654f, -87.4f, 89.0f, 88.0f, oracle::qnan(), -oracle::inf(), oracle::inf(), 0.0f};
  simd_f32_exp_inplace(v);
  EXPECT_EQ(bits(v[0]), bits(tiny));
  EXPECT_EQ(bits(v[1]), 0u);
  EXPECT_EQ(bits(v[2]), bits(v[3]));
  EXPECT_EQ(bits(v[4]), 0u);
  EXPECT_EQ(bits(v[5]), 0u);
  EXPECT_EQ(bits(v[6]), bits(v[3]));
  EXPECT_EQ(v[7], 1.0f);
}

// The formula is a close approximation of e^x over the range it keeps.
TEST(FastExp, ApproximatesTheExponential) {
  for (float x = -87.0f; x <= 88.0f; x += 0.0137f) {
    std::vector<float> v = {x};
    simd_f32_exp_inplace(v);
    const double want = std::exp(static_cast<double>(x));
    EXPECT_NEAR(v[0] / want, 1.0, 2e-6) << x;
  }
}

}  // namespace
}  // namespace tessary::cpu
