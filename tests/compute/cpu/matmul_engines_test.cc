#include "compute/cpu/matmul_engines.h"

#include <gtest/gtest.h>

#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/matmul_column_rules.h"
#include "compute/cpu/matmul_reference.h"
#include "compute/cpu/tier_fixture.h"

namespace tessary::cpu {
namespace {

struct Dims {
  std::size_t m, k, n;
};

// Odd and prime sizes, the 65-row split, sizes below the row-stream limit,
// several inner and column blocks, and halving pieces of widths that are
// not multiples of 8.
const std::vector<Dims> kShapes = {
    {1, 1, 1},    {65, 64, 64}, {3, 5, 19},    {7, 13, 19},  {37, 41, 43},  {97, 89, 101}, {130, 70, 129},
    {1, 100, 130}, {4, 257, 77}, {8, 33, 200},  {9, 20, 1100}, {20, 600, 70}, {31, 300, 47},  {2, 3, 1000},
    {16, 16, 16},  {29, 64, 96}, {64, 128, 200}, {15, 7, 33},
    // Past the cache blocks of the vector engine: two row blocks; several k and column blocks.
    {2310, 20, 40}, {13, 300, 800},
};

void expect_same(const std::vector<float>& got, const std::vector<float>& want, const Dims& d, const char* what) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_PRED2(oracle::same, got[i], want[i])
        << what << " " << d.m << "x" << d.k << "x" << d.n << " element (" << i / d.n << ", " << i % d.n << ")";
  }
}

class MatmulEngines : public TierTest {};

// matmul_f32_blocked: the recursion's values on the vector tiers, rounded
// products on the scalar tier.
TEST_P(MatmulEngines, BlockedMatchesReference) {
  std::vector<float> scratch;
  for (const Dims& d : kShapes) {
    const auto a = ref::random_values(d.m * d.k, 11 + static_cast<std::uint32_t>(d.n));
    const auto b = ref::random_values(d.k * d.n, 23 + static_cast<std::uint32_t>(d.m));
    std::vector<float> c(d.m * d.n, oracle::qnan());
    matmul_f32_blocked(a.data(), b.data(), c.data(), d.m, d.k, d.n, scratch);
    const auto want = GetParam() == SimdPath::Scalar ? ref::rounded(a, b, d.m, d.k, d.n)
                                                     : ref::recursive(a, b, d.m, d.k, d.n);
    expect_same(c, want, d, "blocked");
  }
}

TEST_P(MatmulEngines, PackedMatchesReference) {
  for (const Dims& d : kShapes) {
    const auto a = ref::random_values(d.m * d.k, 5 + static_cast<std::uint32_t>(d.k));
    const auto b = ref::random_values(d.k * d.n, 7 + static_cast<std::uint32_t>(d.n));
    const auto p = ref::pack_panels(b, d.k, d.n);
    std::vector<float> c(d.m * d.n, oracle::qnan());
    matmul_f32_packed(a.data(), p.data(), c.data(), d.m, d.k, d.n);
    std::vector<float> want(d.m * d.n);
    if (GetParam() == SimdPath::Scalar) {
      want = ref::rounded(a, b, d.m, d.k, d.n);
    } else {
      ref::packed_recursive(a.data(), d.k, ref::Panels{p.data(), d.k}, 0, 0, want.data(), d.n, d.m, d.k, d.n, false);
    }
    expect_same(c, want, d, "packed");
  }
}

// The recursive engine and its leaf give the defined values on every tier,
// inside larger arrays (leading dimensions) and continuing from C.
TEST_P(MatmulEngines, StridedAndAccumulating) {
  const std::size_t pad = 5;
  for (const Dims& d : kShapes) {
    const std::size_t lda = d.k + pad, ldb = d.n + pad + 3, ldc = d.n + pad;
    const auto a = ref::random_values(d.m * lda, 3);
    const auto b = ref::random_values(d.k * ldb, 4);
    const auto c0 = ref::random_values(d.m * ldc, 6);
    for (bool accumulate : {false, true}) {
      std::vector<float> got = c0, want = c0;
      matmul_f32_recursive(a.data(), b.data(), got.data(), d.m, d.k, d.n, lda, ldb, ldc, accumulate);
      ref::recursive(a.data(), b.data(), want.data(), d.m, d.k, d.n, lda, ldb, ldc, accumulate);
      Dims wide{d.m, d.k, ldc};
      expect_same(got, want, wide, accumulate ? "recursive acc" : "recursive");
      if (d.m <= 64 && d.k <= 64 && d.n <= 64) {
        got = c0;
        matmul_f32_fma_strided(a.data(), b.data(), got.data(), d.m, d.k, d.n, lda, ldb, ldc, accumulate);
        expect_same(got, want, wide, "leaf");
      }
    }
  }
}

TEST_P(MatmulEngines, PackedRecursiveAccumulates) {
  for (const Dims& d : {Dims{70, 150, 90}, Dims{5, 40, 17}, Dims{66, 66, 130}}) {
    const auto a = ref::random_values(d.m * d.k, 8);
    const auto b = ref::random_values(d.k * d.n, 9);
    const auto p = ref::pack_panels(b, d.k, d.n);
    const auto c0 = ref::random_values(d.m * d.n, 10);
    std::vector<float> got = c0, want = c0;
    matmul_f32_packed_recursive(a.data(), p.data(), got.data(), d.m, d.k, d.n, true);
    ref::packed_recursive(a.data(), d.k, ref::Panels{p.data(), d.k}, 0, 0, want.data(), d.n, d.m, d.k, d.n, true);
    expect_same(got, want, d, "packed recursive acc");
    got = c0;
    matmul_f32_packed_b(a.data(), p.data(), got.data(), d.m, d.k, d.n, true);
    expect_same(got, want, d, "packed leaf acc");
  }
}

// m = 65 over 64 x 64 splits the rows 32 + 33 and gives what one unsplit
// leaf gives, element for element.
TEST_P(MatmulEngines, RowSplitEqualsUnsplitLeaf) {
  const Dims d{65, 64, 64};
  const auto a = ref::random_values(d.m * d.k, 1);
  const auto b = ref::random_values(d.k * d.n, 2);
  std::vector<float> split(d.m * d.n), whole(d.m * d.n);
  matmul_f32_recursive(a.data(), b.data(), split.data(), d.m, d.k, d.n, d.k, d.n, d.n, false);
  ref::leaf(a.data(), b.data(), whole.data(), d.m, d.k, d.n, d.k, d.n, d.n, false);
  expect_same(split, whole, d, "65 rows");
}

// Edge values: one element is the product of the two scalars; a negative
// zero product starts from +0 and stays +0; infinities and NaN propagate.
TEST_P(MatmulEngines, SingleElementAndSpecialValues) {
  std::vector<float> scratch;
  const float pairs[][2] = {{3.0f, 0.1f}, {-1.0f, 0.0f}, {oracle::inf(), 2.0f}, {oracle::inf(), 0.0f},
                            {oracle::qnan(), 1.0f}, {-0.0f, -0.0f}};
  for (const auto& pr : pairs) {
    const float want = 0.0f + pr[0] * pr[1];
    float c = 42.0f;
    matmul_f32_blocked(&pr[0], &pr[1], &c, 1, 1, 1, scratch);
    EXPECT_PRED2(oracle::same, c, want) << pr[0] << " * " << pr[1];
    const std::vector<float> p = ref::pack_panels({pr[1]}, 1, 1);
    c = 42.0f;
    matmul_f32_packed(&pr[0], p.data(), &c, 1, 1, 1);
    EXPECT_PRED2(oracle::same, c, want) << "packed " << pr[0] << " * " << pr[1];
  }
}

TEST_P(MatmulEngines, ZeroSizesWriteNothing) {
  std::vector<float> scratch;
  const float a[4] = {1, 2, 3, 4};
  float c[4] = {7, 7, 7, 7};
  for (const Dims& d : {Dims{0, 2, 2}, Dims{2, 0, 2}, Dims{2, 2, 0}}) {
    matmul_f32_blocked(a, a, c, d.m, d.k, d.n, scratch);
    matmul_f32_packed(a, a, c, d.m, d.k, d.n);
    matmul_f32_recursive(a, a, c, d.m, d.k, d.n, 2, 2, 2, true);
    for (float v : c) EXPECT_EQ(v, 7.0f);
  }
}

TESSARY_ALL_TIERS(MatmulEngines);

// The data above tells the rules apart: with n = 19 the last three columns
// differ from an all-fused computation, and halving pieces of 50 columns
// leave columns 48, 49, 98 and 99 unfused.
TEST(MatmulColumnRules, RulesAreVisibleInResults) {
  const Dims d{6, 300, 19};
  const auto a = ref::random_values(d.m * d.k, 1);
  const auto b = ref::random_values(d.k * d.n, 2);
  const auto want = ref::recursive(a, b, d.m, d.k, d.n);
  std::size_t differ = 0;
  for (std::size_t i = 0; i < d.m; ++i) {
    for (std::size_t j = 16; j < 19; ++j) {
      float fused = 0.0f;
      for (std::size_t kk = 0; kk < d.k; ++kk) fused = std::fma(a[i * d.k + kk], b[kk * d.n + j], fused);
      differ += oracle::bits(fused) != oracle::bits(want[i * d.n + j]);
    }
  }
  EXPECT_GT(differ, 0u);

  std::vector<std::size_t> unfused;
  for (std::size_t j = 0; j < 100; ++j) {
    if (!column_fuses(ColumnRule::Halving, 100, j)) unfused.push_back(j);
  }
  EXPECT_EQ(unfused, (std::vector<std::size_t>{48, 49, 98, 99}));
  EXPECT_TRUE(all_columns_fuse(ColumnRule::Halving, 2048));
  EXPECT_FALSE(all_columns_fuse(ColumnRule::Halving, 1000));
  EXPECT_FALSE(column_fuses(ColumnRule::Panels, 17, 16));
  EXPECT_TRUE(column_fuses(ColumnRule::Panels, 17, 15));
  EXPECT_TRUE(column_fuses(ColumnRule::Leaf, 19, 15));
  EXPECT_FALSE(column_fuses(ColumnRule::Leaf, 19, 16));
  // The lane masks agree with the per-column answer.
  for (std::size_t n : {1u, 19u, 100u, 129u, 1000u, 4099u}) {
    std::vector<std::uint16_t> lanes((n + 15) / 16);
    fill_fma_lanes(ColumnRule::Halving, n, lanes.data());
    for (std::size_t j = 0; j < n; ++j) {
      ASSERT_EQ(((lanes[j / 16] >> (j % 16)) & 1u) != 0, column_fuses(ColumnRule::Halving, n, j)) << n << " " << j;
    }
  }
}

}  // namespace
}  // namespace tessary::cpu
