#include "compute/cpu/lrn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/norm_test_support.h"

namespace tessary::cpu {
namespace {

using oracle::bits;
using Vec = std::vector<float>;

LrnCall make_call(DTypeId dtype, std::uint32_t n, std::uint32_t ch, std::uint32_t s, std::uint32_t size, float alpha,
                  float beta, float bias) {
  LrnCall c;
  c.dtype = dtype;
  c.batch = n;
  c.channels = ch;
  c.spatial = s;
  c.size = size;
  c.alpha = bits(alpha);
  c.beta = bits(beta);
  c.bias = bits(bias);
  return c;
}

// Element by element from the formula: the window around channel c, its
// squares summed in channel order, then x / powf(bias + a * s, beta).
Vec lrn_ref(const Vec& x, long n, long ch, long sp, long size, float alpha, float beta, float bias) {
  const float a = alpha / static_cast<float>(size);
  Vec y(x.size());
  for (long i = 0; i < n; ++i) {
    for (long c = 0; c < ch; ++c) {
      const long lo = std::max(0L, c - (size - 1) / 2);
      const long hi = std::min(ch, c + size / 2 + 1);
      for (long p = 0; p < sp; ++p) {
        float s = 0.0f;
        for (long w = lo; w < hi; ++w) {
          const float v = x[(i * ch + w) * sp + p];
          const float sq = v * v;
          s = s + sq;
        }
        const float as = a * s;
        const float xv = x[(i * ch + c) * sp + p];
        y[(i * ch + c) * sp + p] = xv / powf(bias + as, beta);
      }
    }
  }
  return y;
}

TEST(Lrn, WindowsFollowTheFormula) {
  struct Case {
    std::uint32_t n, ch, sp, size;
    float alpha, beta, bias;
  };
  const Case cases[] = {
      {2, 5, 7, 1, 1e-4f, 0.75f, 1.0f},   // each element alone
      {2, 5, 7, 3, 0.5f, 0.75f, 2.0f},    // one channel either side
      {1, 6, 4, 4, 1.0f, 0.5f, 1.0f},     // even size: one below, two above
      {1, 3, 9, 9, 2.0f, 1.5f, 0.25f},    // window wider than the channels
      {3, 1, 1, 5, 0.3f, 0.75f, 1.0f},
  };
  for (const Case& c : cases) {
    const std::size_t count = std::size_t{c.n} * c.ch * c.sp;
    const Vec x = spread_values(count, c.ch * 10 + c.size, -3, 2);
    for (const Layout& l : kLayouts) {
      SCOPED_TRACE(::testing::Message() << l.name << " Ch" << c.ch << " size " << c.size);
      Region in = encode(l.dtype, x, l.misalign);
      Region out(count * *element_width(l.dtype), l.misalign);
      ASSERT_TRUE(lrn_kernel(make_call(l.dtype, c.n, c.ch, c.sp, c.size, c.alpha, c.beta, c.bias), {in.cbytes(), 1},
                             {out.bytes(), 2}));
      const Vec want = lrn_ref(stored(l.dtype, x), c.n, c.ch, c.sp, c.size, c.alpha, c.beta, c.bias);
      EXPECT_TRUE(holds_values(l.dtype, out.cbytes(), want));
      EXPECT_TRUE(out.untouched_outside());
    }
  }
}

// Size 1 divides each element by powf(bias + alpha * x^2, beta).
TEST(Lrn, SizeOneIsPerElement) {
  const Vec x = {2.0f, -3.0f, 0.5f, 0.0f};
  Region in = encode(DTypeId::F32, x, 0);
  Region out(16, 0);
  ASSERT_TRUE(lrn_kernel(make_call(DTypeId::F32, 1, 2, 2, 1, 0.25f, 0.5f, 1.0f), {in.cbytes(), 1}, {out.bytes(), 2}));
  const Vec want = {2.0f / powf(2.0f, 0.5f), -3.0f / powf(3.25f, 0.5f), 0.5f / powf(1.0625f, 0.5f), 0.0f};
  EXPECT_TRUE(holds_values(DTypeId::F32, out.cbytes(), want));
}

TEST(Lrn, Refusals) {
  Region in(64, 0), out(64, 0);
  auto run = [&](LrnCall c) { return lrn_kernel(c, {in.cbytes(), 1}, {out.bytes(), 2}); };
  EXPECT_EQ(run(make_call(DTypeId::F32, 1, 0, 2, 1, 1, 1, 1)).error(), BackendError::unsupported(kMsgLrnShape));
  EXPECT_EQ(run(make_call(DTypeId::F32, 1, 2, 2, 0, 1, 1, 1)).error(), BackendError::unsupported(kMsgLrnShape));
  for (DTypeId t : {DTypeId::U8, DTypeId::I32, DTypeId::I4}) {
    EXPECT_EQ(run(make_call(t, 1, 2, 2, 1, 1, 1, 1)).error(), BackendError::unsupported(kMsgLrnFloatOnly));
  }
  EXPECT_EQ(run(make_call(DTypeId::F64, 1, 2, 2, 1, 1, 1, 1)).error(),
            BackendError::unsupported(kMsgF64NotCompute));
  EXPECT_TRUE(in.untouched() && out.untouched());
}

TEST(Lrn, BufferChecks) {
  const LrnCall c = make_call(DTypeId::F32, 2, 3, 2, 3, 1, 1, 1);  // 12 elements
  Region in(48, 0), short_in(44, 0), out(48, 0), short_out(47, 0);
  EXPECT_EQ(lrn_kernel(c, {short_in.cbytes(), 1}, {out.bytes(), 2}).error(), BackendError::buffer_error(1));
  EXPECT_EQ(lrn_kernel(c, {in.cbytes(), 1}, {short_out.bytes(), 2}).error(), BackendError::buffer_error(2));
  // The window reads channels after their outputs are written: not even in place.
  EXPECT_EQ(lrn_kernel(c, {in.cbytes(), 1}, {in.bytes(), 2}).error(), BackendError::buffer_error(1));
  // A count past 2^64 elements fits no buffer.
  EXPECT_EQ(lrn_kernel(make_call(DTypeId::F32, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 1, 1, 1), {in.cbytes(), 1},
                       {out.bytes(), 2})
                .error(),
            BackendError::buffer_error(1));
  EXPECT_TRUE(out.untouched() && short_out.untouched() && in.untouched());
  // No batch or no positions: nothing to do.
  EXPECT_TRUE(lrn_kernel(make_call(DTypeId::F32, 0, 3, 2, 3, 1, 1, 1), {{}, 1}, {{}, 2}));
}

}  // namespace
}  // namespace tessary::cpu
