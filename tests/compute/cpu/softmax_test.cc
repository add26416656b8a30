#include "compute/cpu/softmax.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/float_oracle.h"
#include "compute/cpu/norm_test_support.h"
#include "compute/cpu/tier_fixture.h"

namespace tessary::cpu {
namespace {

using oracle::inf;

// One row from the formulas: maximum, shifted fast exponentials, their sum
// in index order (floored at 1e-30), then a division or the log form.
std::vector<float> softmax_ref(std::span<const float> x, bool log) {
  float m = -inf();
  for (float v : x) m = v > m ? v : m;
  std::vector<float> y(x.size(), log ? -inf() : 0.0f);
  if (m <= -inf()) return y;
  std::vector<float> t(x.size());
  for (std::size_t j = 0; j < x.size(); ++j) t[j] = oracle::fastexp(x[j] - m);
  float s = 0.0f;
  for (float v : t) s += v;
  if (!(s > 1e-30f)) s = 1e-30f;
  const float l = m + logf(s);
  for (std::size_t j = 0; j < x.size(); ++j) y[j] = log ? x[j] - l : t[j] / s;
  return y;
}

SoftmaxCall make_call(std::uint32_t rows, std::uint32_t cols, DTypeId dtype, bool log) {
  SoftmaxCall c;
  c.kind = log ? CallKind::LogSoftmax : CallKind::Softmax;
  c.rows = rows;
  c.cols = cols;
  c.dtype = dtype;
  return c;
}

class SoftmaxTiers : public TierTest {
 protected:
  // Runs the kernel on `x` stored in the layout and checks every row against
  // the reference computed from the stored inputs.
  void check(const Layout& l, std::uint32_t rows, std::uint32_t cols, const std::vector<float>& x, bool log) {
    SCOPED_TRACE(::testing::Message() << l.name << " " << rows << "x" << cols << (log ? " log" : ""));
    const std::size_t w = *element_width(l.dtype);
    Region in = encode(l.dtype, x, l.misalign);
    Region out(x.size() * w, l.misalign);
    ASSERT_TRUE(softmax_kernel(make_call(rows, cols, l.dtype, log), {in.cbytes(), 1}, {out.bytes(), 2}));
    const std::vector<float> seen = stored(l.dtype, x);
    for (std::uint32_t r = 0; r < rows; ++r) {
      const auto want = softmax_ref(std::span<const float>(seen).subspan(r * std::size_t{cols}, cols), log);
      ASSERT_TRUE(holds_values(l.dtype, out.cbytes().subspan(r * cols * w), want)) << "row " << r;
    }
    EXPECT_TRUE(out.untouched_outside());
  }
};

TEST_P(SoftmaxTiers, RowsFollowTheFormulas) {
  struct Shape {
    std::uint32_t rows, cols;
  };
  // Row counts below, at and past the kernel's batches of rows; lengths
  // around the vector widths.
  for (const Shape s : {Shape{1, 1}, Shape{3, 5}, Shape{11, 37}, Shape{9, 1000}, Shape{17, 16}, Shape{2, 4099}}) {
    std::vector<float> x = spread_values(std::size_t{s.rows} * s.cols, s.rows * 131 + s.cols, -3, 6);
    if (s.rows >= 3) {
      // A row of -infinity between live rows, and a NaN inside a live row.
      for (std::uint32_t j = 0; j < s.cols; ++j) x[1 * s.cols + j] = -inf();
      x[2 * s.cols] = oracle::qnan();
    }
    for (const Layout& l : kLayouts) {
      for (bool log : {false, true}) check(l, s.rows, s.cols, x, log);
    }
  }
}

TEST_P(SoftmaxTiers, EdgeRows) {
  const float ln2 = logf(2.0f);
  struct Case {
    std::vector<float> x;
    bool log;
    std::vector<float> want;
  };
  const Case cases[] = {
      {{-inf(), -inf(), -inf()}, false, {0.0f, 0.0f, 0.0f}},
      {{-inf(), -inf(), -inf()}, true, {-inf(), -inf(), -inf()}},
      {{0.0f, 0.0f}, false, {0.5f, 0.5f}},
      {{0.0f, 0.0f}, true, {-ln2, -ln2}},
      {{1000.0f, 0.0f}, false, {1.0f, 0.0f}},
      {{oracle::qnan(), 1.0f}, false, {0.0f, 1.0f}},  // NaN is skipped by the maximum and exponentiates to 0
  };
  for (const Case& c : cases) {
    for (const Layout& l : kLayouts) {
      const std::size_t w = *element_width(l.dtype);
      Region in = encode(l.dtype, c.x, l.misalign);
      Region out(c.x.size() * w, l.misalign);
      ASSERT_TRUE(softmax_kernel(make_call(1, static_cast<std::uint32_t>(c.x.size()), l.dtype, c.log),
                                 {in.cbytes(), 1}, {out.bytes(), 2}));
      EXPECT_TRUE(holds_values(l.dtype, out.cbytes(), c.want)) << l.name << (c.log ? " log" : "");
    }
  }
}

TEST_P(SoftmaxTiers, InPlaceEqualsSeparateOutput) {
  const std::uint32_t rows = 13, cols = 70;
  const auto x = spread_values(rows * cols, 5, -2, 5);
  for (bool log : {false, true}) {
    Region in = encode(DTypeId::F32, x, 0);
    Region out(x.size() * 4, 0);
    ASSERT_TRUE(softmax_kernel(make_call(rows, cols, DTypeId::F32, log), {in.cbytes(), 1}, {out.bytes(), 2}));
    Region both = encode(DTypeId::F32, x, 0);
    ASSERT_TRUE(softmax_kernel(make_call(rows, cols, DTypeId::F32, log), {both.cbytes(), 1}, {both.bytes(), 1}));
    EXPECT_TRUE(std::equal(out.cbytes().begin(), out.cbytes().end(), both.cbytes().begin())) << log;
  }
}

TESSARY_ALL_TIERS(SoftmaxTiers);

TEST(Softmax, Refusals) {
  Region in(64, 0), out(64, 0);
  auto run = [&](SoftmaxCall c) { return softmax_kernel(c, {in.cbytes(), 1}, {out.bytes(), 2}); };
  EXPECT_EQ(run(make_call(2, 2, DTypeId::I32, false)).error(),
            BackendError::unsupported(kMsgFloatKernelComputeOnly));
  EXPECT_EQ(run(make_call(2, 2, DTypeId::I4, false)).error(), BackendError::unsupported(kMsgNoFixedWidth));
  EXPECT_EQ(run(make_call(2, 2, DTypeId::F64, true)).error(), BackendError::unsupported(kMsgF64NotCompute));
  SoftmaxCall other = make_call(2, 2, DTypeId::F32, false);
  other.kind = CallKind::ReduceSum;
  EXPECT_EQ(run(other).error(), BackendError::unsupported(kMsgFloatKernelUnknownOp));
  EXPECT_TRUE(in.untouched() && out.untouched());
}

TEST(Softmax, EmptyShapesTouchNothing) {
  Region in(0, 0), out(0, 0);
  for (auto [rows, cols] : {std::pair{0u, 5u}, std::pair{5u, 0u}}) {
    EXPECT_TRUE(softmax_kernel(make_call(rows, cols, DTypeId::F16, false), {in.cbytes(), 1}, {out.bytes(), 2}));
  }
  EXPECT_TRUE(in.untouched() && out.untouched());
}

TEST(Softmax, ShortOrOverlappingBuffersNameTheBuffer) {
  const SoftmaxCall c = make_call(2, 3, DTypeId::F32, false);
  Region in(24, 0), short_in(20, 0), out(24, 0), short_out(23, 0);
  EXPECT_EQ(softmax_kernel(c, {short_in.cbytes(), 7}, {out.bytes(), 9}).error(), BackendError::buffer_error(7));
  EXPECT_EQ(softmax_kernel(c, {in.cbytes(), 7}, {short_out.bytes(), 9}).error(), BackendError::buffer_error(9));
  Region shared(28, 0);
  EXPECT_EQ(softmax_kernel(c, {shared.cbytes().subspan(0, 24), 7}, {shared.bytes().subspan(4, 24), 9}).error(),
            BackendError::buffer_error(7));
  EXPECT_TRUE(out.untouched() && short_out.untouched() && shared.untouched());
}

}  // namespace
}  // namespace tessary::cpu
