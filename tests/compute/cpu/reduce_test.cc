#include "compute/cpu/reduce.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/float_oracle.h"
#include "compute/cpu/norm_test_support.h"
#include "compute/cpu/tier_fixture.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

using oracle::inf;
using oracle::qnan;

enum class Op { Sum, Mean, Prod, Min, Max };
constexpr Op kOps[] = {Op::Sum, Op::Mean, Op::Prod, Op::Min, Op::Max};

CallKind kind_of(Op op) {
  switch (op) {
    case Op::Sum: return CallKind::ReduceSum;
    case Op::Mean: return CallKind::ReduceMean;
    case Op::Prod: return CallKind::ReduceProd;
    case Op::Min: return CallKind::ReduceMin;
    case Op::Max: return CallKind::ReduceMax;
  }
  return CallKind::ReduceSum;
}

ReduceCall make_call(Op op, DTypeId dtype, const std::vector<std::uint32_t>& dims, std::uint32_t mask,
                     std::uint64_t n) {
  ReduceCall c;
  c.kind = kind_of(op);
  c.dtype = dtype;
  c.rank = static_cast<std::uint8_t>(dims.size());
  for (std::size_t i = 0; i < dims.size() && i < 8; ++i) c.dims[i] = dims[i];
  c.axes = mask;
  c.n = n;
  return c;
}

float fold(Op op, float a, float b) {
  switch (op) {
    case Op::Sum:
    case Op::Mean: return a + b;
    case Op::Prod: return a * b;
    case Op::Min: return std::isnan(b) ? a : std::isnan(a) ? b : (b < a ? b : a);
    case Op::Max: return std::isnan(b) ? a : std::isnan(a) ? b : (b > a ? b : a);
  }
  return 0.0f;
}

float initial(Op op) {
  switch (op) {
    case Op::Prod: return 1.0f;
    case Op::Min: return inf();
    case Op::Max: return -inf();
    default: return 0.0f;
  }
}

float round_to(DTypeId dtype, float v) { return stored(dtype, std::span<const float>(&v, 1))[0]; }

// The reduction from its definition: each input element's output index from
// its linear position, divided down by the dimensions; every output folds
// its elements in index order, rounded to the dtype after each step; mean
// multiplies by 1 / reduced count.
std::vector<float> walk_ref(Op op, DTypeId dtype, std::span<const float> x, const std::vector<std::uint32_t>& dims,
                            std::uint32_t mask) {
  const std::size_t r = dims.size();
  auto reduced = [&](std::size_t a) { return (mask & 0xFF) == 0 || ((mask >> a) & 1u) != 0; };
  std::size_t out_count = 1, red_count = 1;
  for (std::size_t a = 0; a < r; ++a) (reduced(a) ? red_count : out_count) *= dims[a];
  std::vector<float> out(out_count, initial(op));
  for (std::size_t i = 0; i < x.size(); ++i) {
    std::size_t rem = i, o = 0, step = 1;
    for (std::size_t a = r; a-- > 0;) {
      const std::size_t coord = rem % dims[a];
      rem /= dims[a];
      if (!reduced(a)) {
        o += coord * step;
        step *= dims[a];
      }
    }
    out[o] = round_to(dtype, fold(op, out[o], x[i]));
  }
  if (op == Op::Mean) {
    const float inv = 1.0f / static_cast<float>(red_count);
    for (float& v : out) v = round_to(dtype, v * inv);
  }
  return out;
}

// Aligned f32 reduced to a single value: the tier's vector sum, min and max
// (checked against their block orders in the primitives' own tests), the
// product in index order, and mean as a division.
float full_ref(Op op, std::span<const float> x) {
  switch (op) {
    case Op::Sum: return simd_f32_sum(x);
    case Op::Mean: return simd_f32_sum(x) / static_cast<float>(x.size());
    case Op::Prod: {
      float p = 1.0f;
      for (float v : x) p *= v;
      return p;
    }
    case Op::Min:
    case Op::Max: {
      float m = initial(op);
      for (float v : x) m = fold(op, m, v);
      return m;
    }
  }
  return 0.0f;
}

struct Geometry {
  std::vector<std::uint32_t> dims;
  std::uint32_t mask;
};

const std::vector<Geometry> kGeometries = {
    {{2, 3}, 0},        {{2, 3}, 1},           {{2, 3}, 2},       {{4, 5, 6}, 0b101},
    {{4, 5, 6}, 0b010}, {{3, 1, 4, 2}, 0b1010}, {{}, 0},           {{7}, 1},
    {{5, 300}, 0b10},   {{300, 5}, 0b01},       {{1, 1000}, 0b01}, {{2, 3, 2, 2, 2, 2, 2, 3}, 0b10110101},
    {{3, 70}, 0},
};

class ReduceTiers : public TierTest {
 protected:
  // Runs one reduction and returns the output values (and checks the bytes
  // past the output count were zeroed).
  std::vector<float> run(Op op, const Layout& l, const Geometry& g, const std::vector<float>& x,
                         std::size_t out_count) {
    const std::size_t w = *element_width(l.dtype);
    Region in = encode(l.dtype, x, l.misalign);
    Region out(out_count * w + 6, l.misalign);
    const auto r = reduce_kernel(make_call(op, l.dtype, g.dims, g.mask, x.size()), {in.cbytes(), 1},
                                 {out.bytes(), 2});
    EXPECT_TRUE(r) << (r ? "" : r.error().message);
    for (std::size_t i = out_count * w; i < out.bytes().size(); ++i) EXPECT_EQ(out.bytes()[i], 0) << i;
    EXPECT_TRUE(out.untouched_outside());
    return decode(l.dtype, out.cbytes(), out_count);
  }
};

TEST_P(ReduceTiers, EveryKindFoldsEachOutputInIndexOrder) {
  for (const Geometry& g : kGeometries) {
    std::size_t n = 1;
    for (std::uint32_t d : g.dims) n *= d;
    for (Op op : kOps) {
      // Products stay near 1 so long runs neither overflow nor vanish.
      std::vector<float> x = spread_values(n, static_cast<unsigned>(n * 7 + g.mask), -3, 3);
      if (op == Op::Prod) {
        for (float& v : x) v = 1.0f + v / 16.0f;
      }
      for (const Layout& l : kLayouts) {
        SCOPED_TRACE(::testing::Message() << l.name << " op " << static_cast<int>(op) << " rank " << g.dims.size()
                                          << " mask " << g.mask);
        const std::vector<float> seen = stored(l.dtype, x);
        std::vector<float> want = walk_ref(op, l.dtype, seen, g.dims, g.mask);
        if (l.dtype == DTypeId::F32 && l.misalign == 0 && want.size() == 1) want = {full_ref(op, seen)};
        EXPECT_TRUE(matches(l.dtype, run(op, l, g, x, want.size()), want));
      }
    }
  }
}

TEST_P(ReduceTiers, NaNIsSkippedByMinAndMaxAndKeptBySum) {
  struct Case {
    Op op;
    Geometry g;
    std::vector<float> x;
    std::vector<float> want;
  };
  const std::vector<Case> cases = {
      {Op::Max, {{2}, 0}, {qnan(), 1.0f}, {1.0f}},
      {Op::Max, {{2}, 0}, {1.0f, qnan()}, {1.0f}},
      {Op::Min, {{2}, 0}, {qnan(), qnan()}, {inf()}},
      {Op::Max, {{2, 2}, 0b10}, {qnan(), 1.0f, 2.0f, qnan()}, {1.0f, 2.0f}},
      {Op::Min, {{2, 2}, 0b01}, {qnan(), 1.0f, 2.0f, qnan()}, {2.0f, 1.0f}},
      {Op::Sum, {{3}, 0}, {1.0f, qnan(), 2.0f}, {qnan()}},
      {Op::Prod, {{3}, 0}, {1.0f, qnan(), 2.0f}, {qnan()}},
  };
  for (const Case& c : cases) {
    for (const Layout& l : kLayouts) {
      EXPECT_TRUE(matches(l.dtype, run(c.op, l, c.g, c.x, c.want.size()), c.want))
          << l.name << " op " << static_cast<int>(c.op);
    }
  }
}

TEST_P(ReduceTiers, MaskZeroReducesAllSixElements) {
  const Geometry g{{2, 3}, 0};
  const std::vector<float> x = {1, 2, 3, 4, 5, 6};
  for (const Layout& l : kLayouts) {
    EXPECT_TRUE(matches(l.dtype, run(Op::Sum, l, g, x, 1), std::vector<float>{21.0f}));
    EXPECT_TRUE(matches(l.dtype, run(Op::Max, l, g, x, 1), std::vector<float>{6.0f}));
    // Along the inner axis: sums multiplied by 1/3.
    EXPECT_TRUE(matches(l.dtype, run(Op::Mean, l, {{2, 3}, 2}, x, 2),
                             std::vector<float>{2.0f, 5.0f}));
    // Along the outer axis.
    EXPECT_TRUE(matches(l.dtype, run(Op::Sum, l, {{2, 3}, 1}, x, 3),
                             std::vector<float>{5.0f, 7.0f, 9.0f}));
  }
}

TESSARY_ALL_TIERS(ReduceTiers);

BackendResult<void> reduce_f32(Op op, const std::vector<std::uint32_t>& dims, std::uint32_t mask,
                               std::span<const std::uint8_t> in, std::span<std::uint8_t> out, std::uint64_t n) {
  return reduce_kernel(make_call(op, DTypeId::F32, dims, mask, n), {in, 1}, {out, 2});
}

// Only the single-value f32 path divides the sum; the walk multiplies by the
// reciprocal. 7 / 3 and 7 * (1 / 3) differ in binary32.
TEST(Reduce, MeanDividesOnlyOnTheFullF32Path) {
  const float by_division = 7.0f / 3.0f;
  const float by_reciprocal = 7.0f * (1.0f / 3.0f);
  ASSERT_NE(oracle::bits(by_division), oracle::bits(by_reciprocal));
  const std::vector<float> x = {1.0f, 2.0f, 4.0f, 1.0f, 2.0f, 4.0f};
  Region aligned = encode(DTypeId::F32, x, 0);
  Region unaligned = encode(DTypeId::F32, x, 2);
  Region out(8, 0);
  ASSERT_TRUE(reduce_f32(Op::Mean, {3}, 0, aligned.cbytes(), out.bytes(), 3));
  EXPECT_EQ(decode(DTypeId::F32, out.cbytes(), 1)[0], by_division);
  ASSERT_TRUE(reduce_f32(Op::Mean, {3}, 0, unaligned.cbytes(), out.bytes(), 3));
  EXPECT_EQ(decode(DTypeId::F32, out.cbytes(), 1)[0], by_reciprocal);
  ASSERT_TRUE(reduce_f32(Op::Mean, {2, 3}, 0b10, aligned.cbytes(), out.bytes(), 6));
  EXPECT_EQ(decode(DTypeId::F32, out.cbytes(), 2), (std::vector<float>{by_reciprocal, by_reciprocal}));
}

// f16 ties round away from zero: 2048 + 1 is stored as 2050, + 1 as 2052,
// where a binary32 running sum would end at 2050. bf16 truncates: 256 + 1
// stays 256 at every step (258 in binary32).
TEST(Reduce, SixteenBitRunningValueIsRoundedEveryStep) {
  struct Case {
    DTypeId dtype;
    std::vector<float> x;
    std::vector<std::uint32_t> dims;
    std::uint32_t mask;
    std::vector<float> want;
  };
  const std::vector<Case> cases = {
      {DTypeId::F16, {2048.0f, 1.0f, 1.0f}, {3}, 0, {2052.0f}},
      {DTypeId::F16, {2048.0f, 5.0f, 1.0f, 6.0f, 1.0f, 7.0f}, {3, 2}, 0b01, {2052.0f, 18.0f}},
      {DTypeId::BF16, {256.0f, 1.0f, 1.0f}, {3}, 0, {256.0f}},
  };
  for (const Case& c : cases) {
    Region in = encode(c.dtype, c.x, 0);
    Region out(c.want.size() * 2, 0);
    ASSERT_TRUE(reduce_kernel(make_call(Op::Sum, c.dtype, c.dims, c.mask, c.x.size()), {in.cbytes(), 1},
                              {out.bytes(), 2}));
    EXPECT_EQ(decode(c.dtype, out.cbytes(), c.want.size()), c.want);
  }
}

TEST(Reduce, PlanErrors) {
  Region in(64, 0), out(64, 0);
  auto run = [&](ReduceCall c) { return reduce_kernel(c, {in.cbytes(), 1}, {out.bytes(), 2}); };
  ReduceCall rank9 = make_call(Op::Sum, DTypeId::F32, {1, 1, 1, 1, 1, 1, 1, 1}, 0, 1);
  rank9.rank = 9;
  EXPECT_EQ(run(rank9).error(), BackendError::unsupported(kMsgReduceRank));
  EXPECT_EQ(run(make_call(Op::Sum, DTypeId::F32, {2, 3}, 0, 5)).error(), BackendError::unsupported(kMsgReduceDims));
  // An empty dimension holds no elements, so one element does not fit it.
  EXPECT_EQ(run(make_call(Op::Max, DTypeId::F32, {2, 0}, 1, 1)).error(), BackendError::unsupported(kMsgReduceDims));
  // A dims product past 2^64 matches no count.
  const std::uint32_t big = 0xFFFFFFFFu;
  EXPECT_EQ(run(make_call(Op::Sum, DTypeId::F32, {big, big, big}, 0, 1)).error(),
            BackendError::unsupported(kMsgReduceDims));
  // n = 0 succeeds before anything is checked.
  rank9.n = 0;
  rank9.dtype = DTypeId::I4;
  EXPECT_TRUE(run(rank9));
  EXPECT_TRUE(in.untouched() && out.untouched());
}

TEST(Reduce, PlanGeometry) {
  auto plan = ReducePlan::make(make_call(Op::Sum, DTypeId::F32, {2, 3, 4}, 0b101, 24), 24);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->rank, 3u);
  EXPECT_EQ((std::vector<std::uint64_t>(plan->strides.begin(), plan->strides.begin() + 3)),
            (std::vector<std::uint64_t>{12, 4, 1}));
  EXPECT_EQ((std::vector<std::uint64_t>(plan->kept_dims.begin(), plan->kept_dims.begin() + 3)),
            (std::vector<std::uint64_t>{1, 3, 1}));
  EXPECT_EQ(plan->output_count, 3u);
  EXPECT_EQ(plan->reduced_count, 8u);

  auto scalar = ReducePlan::make(make_call(Op::Sum, DTypeId::F32, {}, 0, 1), 1);
  ASSERT_TRUE(scalar);
  EXPECT_EQ(scalar->output_count, 1u);
  EXPECT_EQ(scalar->reduced_count, 1u);

  // The mask is one byte: bits from 8 up are not axes, so 0x100 is mask 0.
  auto wide = ReducePlan::make(make_call(Op::Sum, DTypeId::F32, {2, 3}, 0x100, 6), 6);
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->output_count, 1u);
  // Bits at or past the rank select nothing.
  auto none = ReducePlan::make(make_call(Op::Sum, DTypeId::F32, {2, 3}, 0x04, 6), 6);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->output_count, 6u);
  EXPECT_EQ(none->reduced_count, 1u);
}

TEST(Reduce, BufferChecksAndRefusals) {
  const std::vector<float> x = {1, 2, 3, 4, 5, 6};
  Region in = encode(DTypeId::F32, x, 0);
  Region short_in(20, 0), out(8, 0), short_out(7, 0);
  EXPECT_EQ(reduce_f32(Op::Sum, {2, 3}, 0b10, short_in.cbytes(), out.bytes(), 6).error(),
            BackendError::buffer_error(1));
  EXPECT_EQ(reduce_f32(Op::Sum, {2, 3}, 0b10, in.cbytes(), short_out.bytes(), 6).error(),
            BackendError::buffer_error(2));
  Region shared(40, 0);
  EXPECT_EQ(reduce_f32(Op::Sum, {2, 3}, 0b10, shared.cbytes().subspan(0, 24), shared.bytes().subspan(20, 8), 6)
                .error(),
            BackendError::buffer_error(1));
  EXPECT_TRUE(out.untouched() && short_out.untouched() && shared.untouched());

  EXPECT_EQ(reduce_kernel(make_call(Op::Sum, DTypeId::I32, {2, 3}, 0, 6), {in.cbytes(), 1}, {out.bytes(), 2}).error(),
            BackendError::unsupported(kMsgFloatKernelComputeOnly));
  ReduceCall cumsum = make_call(Op::Sum, DTypeId::F32, {2, 3}, 0, 6);
  cumsum.kind = CallKind::Cumsum;
  EXPECT_EQ(reduce_kernel(cumsum, {in.cbytes(), 1}, {out.bytes(), 2}).error(),
            BackendError::unsupported(kMsgFloatKernelUnknownOp));
}

}  // namespace
}  // namespace tessary::cpu
