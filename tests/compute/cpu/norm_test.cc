#include "compute/cpu/norm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/float_oracle.h"
#include "compute/cpu/norm_test_support.h"
#include "compute/cpu/tier_fixture.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

using oracle::bits;
using oracle::from_bits;
using Vec = std::vector<float>;

constexpr std::uint32_t kEps1e5 = 0x3727C5ACu;

float eps_value(std::uint32_t b) { return from_bits(b == 0 ? 0x3089705Fu : b); }

// The shared norm from its formulas, per unit (row, or group of F / G). The
// sum and dot are the tier's vector primitives, whose block orders their own
// tests check; everything around them is written out here.
Vec norm_ref(const Vec& x, std::size_t b, std::size_t f, std::size_t ch, std::size_t g, const Vec* gamma,
             const Vec* beta, float eps) {
  const std::size_t k = g == 0 ? f : f / g;
  const std::size_t units = g == 0 ? b : b * g;
  Vec y(x.size());
  for (std::size_t u = 0; u < units; ++u) {
    const float* xu = x.data() + u * k;
    const float c = 1.0f / static_cast<float>(k);
    const float mean = simd_f32_sum(std::span<const float>(xu, k)) * c;
    Vec d(k);
    for (std::size_t j = 0; j < k; ++j) d[j] = xu[j] - mean;
    const float dd = simd_f32_dot(d, d);
    const float inv = 1.0f / sqrtf(c * dd + eps);
    for (std::size_t j = 0; j < k; ++j) {
      // Column in the row form; channel in the group form.
      const std::size_t idx = g == 0 ? j : ((u % g) * k + j) / (f / ch);
      float v = inv * d[j];
      if (gamma != nullptr) v = (*gamma)[idx] * v;
      y[u * k + j] = (beta != nullptr ? (*beta)[idx] : 0.0f) + v;
    }
  }
  return y;
}

// RMS norm of x (+ residual) per row of `cols`.
Vec rms_ref(const Vec& x, const Vec* residual, std::size_t cols, const Vec* gamma, float eps) {
  Vec y(x.size());
  for (std::size_t r = 0; r < x.size() / cols; ++r) {
    Vec h(x.begin() + r * cols, x.begin() + (r + 1) * cols);
    if (residual != nullptr) {
      for (std::size_t j = 0; j < cols; ++j) h[j] = h[j] + (*residual)[r * cols + j];
    }
    const float ms = simd_f32_dot(h, h) / static_cast<float>(cols);
    const float inv = 1.0f / sqrtf(ms + eps);
    for (std::size_t j = 0; j < cols; ++j) {
      const float s = inv * h[j];
      y[r * cols + j] = gamma != nullptr ? s * (*gamma)[j] : s;
    }
  }
  return y;
}

NormCall make_call(CallKind kind, DTypeId dtype, std::uint32_t rows, std::uint32_t features, std::uint32_t channels,
                   std::uint32_t groups, std::uint64_t eps) {
  NormCall c;
  c.kind = kind;
  c.dtype = dtype;
  c.rows = rows;
  c.features = features;
  c.channels = channels;
  c.groups = groups;
  c.epsilon = eps;
  return c;
}

// Operands of one kernel run, stored in a layout. An absent operand is an
// empty span with the absent id.
struct Operands {
  std::optional<Region> x, second, third, fourth;
  Region out{0, 0};

  static KernelInput input(std::optional<Region>& r, std::uint32_t id) {
    if (!r) return {{}, kSlotNone};
    return {r->cbytes(), id};
  }
  BackendResult<void> run(const NormCall& c) {
    return norm_kernel(c, input(x, 1), input(second, 2), input(third, 3), input(fourth, 4), {out.bytes(), 5});
  }
};

std::optional<Region> stored_region(const Layout& l, const Vec* v) {
  if (v == nullptr) return std::nullopt;
  return encode(l.dtype, *v, l.misalign);
}

class NormTiers : public TierTest {};

TEST_P(NormTiers, RowAndGroupFormsFollowTheFormulas) {
  struct Geometry {
    CallKind kind;
    std::uint32_t b, f, ch, g;
  };
  const Geometry geometries[] = {
      {CallKind::LayerNorm, 3, 37, 0, 0},     {CallKind::LayerNorm, 2, 1000, 0, 0},
      {CallKind::LayerNorm, 1, 1, 0, 0},      {CallKind::GroupNorm, 2, 12, 6, 3},
      {CallKind::GroupNorm, 3, 40, 4, 2},     {CallKind::GroupNorm, 2, 200, 2, 1},
      {CallKind::InstanceNorm, 2, 24, 4, 4},  {CallKind::InstanceNorm, 1, 150, 3, 3},
  };
  for (const Geometry& geo : geometries) {
    const std::size_t n = std::size_t{geo.b} * geo.f;
    const std::size_t alen = geo.g == 0 ? geo.f : geo.ch;
    const Vec x = spread_values(n, geo.f + geo.g, -3, 4);
    const Vec gamma = spread_values(alen, 91, -1, 1);
    const Vec beta = spread_values(alen, 92, -2, 2);
    for (const Layout& l : kLayouts) {
      const Vec xs = stored(l.dtype, x), gs = stored(l.dtype, gamma), bs = stored(l.dtype, beta);
      for (int mask = 0; mask < 4; ++mask) {
        const bool has_g = mask & 1, has_b = mask & 2;
        for (std::uint32_t eps : {0u, kEps1e5}) {
          SCOPED_TRACE(::testing::Message() << l.name << " B" << geo.b << " F" << geo.f << " Ch" << geo.ch << " G"
                                            << geo.g << " gamma " << has_g << " beta " << has_b << " eps " << eps);
          Operands ops;
          ops.x = encode(l.dtype, x, l.misalign);
          ops.second = stored_region(l, has_g ? &gamma : nullptr);
          ops.third = stored_region(l, has_b ? &beta : nullptr);
          ops.out = Region(n * *element_width(l.dtype), l.misalign);
          ASSERT_TRUE(ops.run(make_call(geo.kind, l.dtype, geo.b, geo.f, geo.ch, geo.g, eps)));
          const Vec want =
              norm_ref(xs, geo.b, geo.f, geo.ch, geo.g, has_g ? &gs : nullptr, has_b ? &bs : nullptr, eps_value(eps));
          ASSERT_TRUE(holds_values(l.dtype, ops.out.cbytes(), want));
          EXPECT_TRUE(ops.out.untouched_outside());
        }
      }
    }
  }
}

TEST_P(NormTiers, RmsNormAndAddRmsNorm) {
  struct Shape {
    std::uint32_t rows, cols;
  };
  for (const Shape s : {Shape{3, 37}, Shape{2, 1000}, Shape{1, 1}, Shape{5, 64}}) {
    const std::size_t n = std::size_t{s.rows} * s.cols;
    const Vec x = spread_values(n, s.cols, -4, 4);
    const Vec res = spread_values(n, s.cols + 1, -4, 4);
    const Vec gamma = spread_values(s.cols, 93, -1, 1);
    for (const Layout& l : kLayouts) {
      const Vec xs = stored(l.dtype, x), rs = stored(l.dtype, res), gs = stored(l.dtype, gamma);
      for (bool add : {false, true}) {
        for (bool has_g : {false, true}) {
          for (std::uint32_t eps : {0u, kEps1e5}) {
            SCOPED_TRACE(::testing::Message() << l.name << " " << s.rows << "x" << s.cols << " add " << add
                                              << " gamma " << has_g << " eps " << eps);
            Operands ops;
            ops.x = encode(l.dtype, x, l.misalign);
            if (add) {
              ops.second = encode(l.dtype, res, l.misalign);
              ops.fourth = stored_region(l, has_g ? &gamma : nullptr);
            } else {
              ops.second = stored_region(l, has_g ? &gamma : nullptr);
            }
            ops.out = Region(n * *element_width(l.dtype), l.misalign);
            const CallKind kind = add ? CallKind::AddRmsNorm : CallKind::RmsNorm;
            ASSERT_TRUE(ops.run(make_call(kind, l.dtype, s.rows, s.cols, 0, 0, eps)));
            const Vec want = rms_ref(xs, add ? &rs : nullptr, s.cols, has_g ? &gs : nullptr, eps_value(eps));
            ASSERT_TRUE(holds_values(l.dtype, ops.out.cbytes(), want));
            EXPECT_TRUE(ops.out.untouched_outside());
          }
        }
      }
    }
  }
}

// A check of the formulas themselves against double precision.
TEST_P(NormTiers, SmallCasesAgreeWithDoublePrecision) {
  Operands ln;
  ln.x = encode(DTypeId::F32, Vec{1, 2, 3, 4}, 0);
  ln.out = Region(16, 0);
  ASSERT_TRUE(ln.run(make_call(CallKind::LayerNorm, DTypeId::F32, 1, 4, 0, 0, 0)));
  const Vec y = decode(DTypeId::F32, ln.out.cbytes(), 4);
  const double inv = 1.0 / std::sqrt(1.25 + 1e-9);
  for (int j = 0; j < 4; ++j) EXPECT_NEAR(y[j], (j - 1.5) * inv, 1e-6) << j;

  Operands rms;
  rms.x = encode(DTypeId::F32, Vec{3, 4}, 0);
  rms.second = encode(DTypeId::F32, Vec{2, -1}, 0);
  rms.out = Region(8, 0);
  ASSERT_TRUE(rms.run(make_call(CallKind::RmsNorm, DTypeId::F32, 1, 2, 0, 0, 0)));
  const Vec z = decode(DTypeId::F32, rms.out.cbytes(), 2);
  EXPECT_NEAR(z[0], 6.0 / std::sqrt(12.5), 1e-6);
  EXPECT_NEAR(z[1], -4.0 / std::sqrt(12.5), 1e-6);
}

// Without beta the sum is taken with +0, so a -0 product comes out as +0.
TEST_P(NormTiers, AbsentBetaAddsPositiveZero) {
  struct Case {
    Vec x;
    std::optional<Vec> gamma;
    std::uint32_t ch, g;
  };
  const std::vector<Case> cases = {
      {{-0.0f, -0.0f}, std::nullopt, 0, 0},  // d = -0 - (+0) = -0
      {{5.0f, 5.0f}, Vec{-1.0f, -1.0f}, 0, 0},  // -1 * (+0)
      {{5.0f, 5.0f}, Vec{-1.0f, 2.0f}, 2, 1},   // group form, per channel
  };
  for (const Case& c : cases) {
    for (const Layout& l : kLayouts) {
      Operands ops;
      ops.x = encode(l.dtype, c.x, l.misalign);
      if (c.gamma) ops.second = encode(l.dtype, *c.gamma, l.misalign);
      ops.out = Region(2 * *element_width(l.dtype), l.misalign);
      const CallKind kind = c.g == 0 ? CallKind::LayerNorm : CallKind::GroupNorm;
      ASSERT_TRUE(ops.run(make_call(kind, l.dtype, 1, 2, c.ch, c.g, 0)));
      for (float v : decode(l.dtype, ops.out.cbytes(), 2)) EXPECT_EQ(bits(v), 0u) << l.name;
    }
  }
}

TEST_P(NormTiers, InPlaceEqualsSeparateOutput) {
  const Vec x = spread_values(4 * 50, 7, -2, 3);
  const Vec res = spread_values(4 * 50, 8, -2, 3);
  for (CallKind kind : {CallKind::LayerNorm, CallKind::AddRmsNorm}) {
    const NormCall c = make_call(kind, DTypeId::F32, 4, 50, 0, 0, 0);
    Region a = encode(DTypeId::F32, x, 0), r = encode(DTypeId::F32, res, 0), out(x.size() * 4, 0);
    const KernelInput none{{}, kSlotNone};
    const KernelInput second = kind == CallKind::AddRmsNorm ? KernelInput{r.cbytes(), 2} : none;
    ASSERT_TRUE(norm_kernel(c, {a.cbytes(), 1}, second, none, none, {out.bytes(), 5}));
    ASSERT_TRUE(norm_kernel(c, {a.cbytes(), 1}, second, none, none, {a.bytes(), 1}));
    EXPECT_TRUE(std::equal(out.cbytes().begin(), out.cbytes().end(), a.cbytes().begin()));
  }
}

TESSARY_ALL_TIERS(NormTiers);

TEST(Norm, EpsilonRule) {
  struct Case {
    std::uint64_t field;
    std::optional<std::uint32_t> value;  // the epsilon used, or refused
  };
  const Case cases[] = {
      {0, 0x3089705Fu},                     // default 1e-9
      {kEps1e5, kEps1e5},                   // an ordinary value
      {0x00000001u, 0x00000001u},           // the smallest subnormal
      {0x7F7FFFFFu, 0x7F7FFFFFu},           // the largest finite
      {0xFFFFFFFF00000000ull, 0x3089705Fu}, // the high half is not read
      {0x1'3727C5ACull, kEps1e5},
      {0x80000000u, std::nullopt},  // -0
      {0xBF800000u, std::nullopt},  // -1
      {0x80000001u, std::nullopt},  // negative subnormal
      {0x7F800000u, std::nullopt},  // +infinity
      {0xFF800000u, std::nullopt},  // -infinity
      {0x7FC00000u, std::nullopt},  // NaN
      {0x7F800001u, std::nullopt},  // signalling NaN
  };
  for (const Case& c : cases) {
    const auto e = norm_epsilon(c.field);
    if (c.value) {
      ASSERT_TRUE(e) << std::hex << c.field;
      EXPECT_EQ(bits(*e), *c.value) << std::hex << c.field;
    } else {
      EXPECT_EQ(e.error(), BackendError::unsupported(kMsgNormEpsilon)) << std::hex << c.field;
    }
  }
  // Every kind refuses it before touching a buffer.
  for (CallKind kind : {CallKind::LayerNorm, CallKind::RmsNorm, CallKind::GroupNorm, CallKind::InstanceNorm,
                        CallKind::AddRmsNorm}) {
    Operands ops;
    ops.x = Region(16, 0);
    ops.second = Region(16, 0);
    ops.out = Region(16, 0);
    EXPECT_EQ(ops.run(make_call(kind, DTypeId::F32, 1, 4, 2, kind == CallKind::GroupNorm ? 1 : 0, 0x80000000u))
                  .error(),
              BackendError::unsupported(kMsgNormEpsilon));
    EXPECT_TRUE(ops.x->untouched() && ops.second->untouched() && ops.out.untouched());
  }
}

// With tiny inputs the epsilon dominates, so the default shows in the result.
TEST(Norm, EpsilonZeroUsesTheDefault) {
  const Vec x = {1e-5f, -2e-5f};
  Vec got[3];
  const std::uint64_t fields[] = {0, 0x3089705Fu, kEps1e5};
  for (int i = 0; i < 3; ++i) {
    Operands ops;
    ops.x = encode(DTypeId::F32, x, 0);
    ops.out = Region(8, 0);
    ASSERT_TRUE(ops.run(make_call(CallKind::RmsNorm, DTypeId::F32, 1, 2, 0, 0, fields[i])));
    got[i] = decode(DTypeId::F32, ops.out.cbytes(), 2);
  }
  EXPECT_EQ(bits(got[0][0]), bits(got[1][0]));
  EXPECT_EQ(bits(got[0][1]), bits(got[1][1]));
  EXPECT_NE(bits(got[0][0]), bits(got[2][0]));
}

TEST(Norm, GroupFormDivisibility) {
  struct Case {
    std::uint32_t b, f, ch, g;
    bool refused;
  };
  const Case cases[] = {
      {2, 12, 0, 1, true},   // no channels
      {2, 12, 5, 1, true},   // channels do not divide the features
      {2, 12, 4, 8, true},   // groups divide neither
      {2, 12, 6, 4, true},   // groups divide the features, not the channels
      {0, 12, 5, 1, false},  // no samples: nothing to check
      {2, 0, 5, 1, false},   // no features: nothing to check
      {2, 12, 6, 3, false},
  };
  for (const Case& c : cases) {
    Operands ops;
    ops.x = Region(c.b * c.f * 4, 0);
    ops.out = Region(c.b * c.f * 4, 0);
    const auto r = ops.run(make_call(CallKind::GroupNorm, DTypeId::F32, c.b, c.f, c.ch, c.g, 0));
    if (c.refused) {
      EXPECT_EQ(r.error(), BackendError::unsupported(kMsgGroupNormShape)) << c.f << " " << c.ch << " " << c.g;
      EXPECT_TRUE(ops.out.untouched());
    } else {
      EXPECT_TRUE(r) << c.b << " " << c.f << " " << c.ch << " " << c.g;
    }
  }
  // B = 0 and F = 0 succeed without touching a buffer in every kind.
  for (CallKind kind : {CallKind::LayerNorm, CallKind::RmsNorm, CallKind::AddRmsNorm}) {
    for (auto [rows, cols] : {std::pair{0u, 4u}, std::pair{4u, 0u}}) {
      Operands ops;
      ops.x = Region(0, 0);
      EXPECT_TRUE(ops.run(make_call(kind, DTypeId::F16, rows, cols, 0, 0, 0)));
      EXPECT_TRUE(ops.out.untouched());
    }
  }
}

TEST(Norm, ZeroLengthGammaIsAbsentExceptForAddRmsNorm) {
  const Vec x = spread_values(8, 3);
  Operands without, empty;
  without.x = encode(DTypeId::F32, x, 0);
  without.out = Region(32, 0);
  empty.x = encode(DTypeId::F32, x, 0);
  empty.second = Region(0, 0);
  empty.third = Region(0, 0);
  empty.out = Region(32, 0);
  for (CallKind kind : {CallKind::LayerNorm, CallKind::RmsNorm}) {
    const NormCall c = make_call(kind, DTypeId::F32, 2, 4, 0, 0, 0);
    ASSERT_TRUE(without.run(c));
    ASSERT_TRUE(empty.run(c));
    EXPECT_TRUE(std::equal(without.out.cbytes().begin(), without.out.cbytes().end(), empty.out.cbytes().begin()));
  }
  // add_rms_norm's gamma is absent only by its id: present and empty, it is short.
  Operands add;
  add.x = encode(DTypeId::F32, x, 0);
  add.second = encode(DTypeId::F32, x, 0);
  add.fourth = Region(0, 0);
  add.out = Region(32, 0);
  EXPECT_EQ(add.run(make_call(CallKind::AddRmsNorm, DTypeId::F32, 2, 4, 0, 0, 0)).error(),
            BackendError::buffer_error(4));
  EXPECT_TRUE(add.out.untouched());
}

TEST(Norm, ShortOrOverlappingBuffersNameTheBuffer) {
  auto full = [](std::size_t n) { return std::optional<Region>(Region(n * 4, 0)); };
  struct Case {
    const char* what;
    CallKind kind;
    std::uint32_t ch, g;
    std::size_t x, second, third, fourth, out;  // element counts; 99 = absent
    std::uint32_t error_id;
  };
  // 2 rows of 6 features; group form with 3 channels.
  const Case cases[] = {
      {"x", CallKind::LayerNorm, 0, 0, 11, 6, 6, 99, 12, 1},
      {"gamma", CallKind::LayerNorm, 0, 0, 12, 5, 6, 99, 12, 2},
      {"beta", CallKind::LayerNorm, 0, 0, 12, 6, 5, 99, 12, 3},
      {"out", CallKind::LayerNorm, 0, 0, 12, 6, 6, 99, 11, 5},
      {"group gamma", CallKind::GroupNorm, 3, 1, 12, 2, 99, 99, 12, 2},
      {"rms gamma", CallKind::RmsNorm, 0, 0, 12, 5, 99, 99, 12, 2},
      {"residual", CallKind::AddRmsNorm, 0, 0, 12, 11, 99, 6, 12, 2},
      {"add gamma", CallKind::AddRmsNorm, 0, 0, 12, 12, 99, 5, 12, 4},
  };
  for (const Case& c : cases) {
    Operands ops;
    ops.x = full(c.x);
    if (c.second != 99) ops.second = full(c.second);
    if (c.third != 99) ops.third = full(c.third);
    if (c.fourth != 99) ops.fourth = full(c.fourth);
    ops.out = Region(c.out * 4, 0);
    EXPECT_EQ(ops.run(make_call(c.kind, DTypeId::F32, 2, 6, c.ch, c.g, 0)).error(),
              BackendError::buffer_error(c.error_id))
        << c.what;
    EXPECT_TRUE(ops.out.untouched()) << c.what;
  }
  // x may be the output but not shifted against it; gamma may not share a byte with it.
  Region shared(80, 0);
  const KernelInput none{{}, kSlotNone};
  const NormCall c = make_call(CallKind::LayerNorm, DTypeId::F32, 2, 6, 0, 0, 0);
  EXPECT_EQ(norm_kernel(c, {shared.cbytes().subspan(0, 48), 1}, none, none, none, {shared.bytes().subspan(4, 48), 5})
                .error(),
            BackendError::buffer_error(1));
  Region x(48, 0);
  EXPECT_EQ(norm_kernel(c, {x.cbytes(), 1}, {shared.cbytes().subspan(44, 24), 2}, none, none,
                        {shared.bytes().subspan(0, 48), 5})
                .error(),
            BackendError::buffer_error(2));
  EXPECT_TRUE(shared.untouched());
}

TEST(Norm, Refusals) {
  Operands ops;
  ops.x = Region(16, 0);
  ops.out = Region(16, 0);
  EXPECT_EQ(ops.run(make_call(CallKind::LayerNorm, DTypeId::I32, 1, 4, 0, 0, 0)).error(),
            BackendError::unsupported(kMsgFloatKernelComputeOnly));
  EXPECT_EQ(ops.run(make_call(CallKind::RmsNorm, DTypeId::E8cb, 1, 4, 0, 0, 0)).error(),
            BackendError::unsupported(kMsgNoFixedWidth));
  EXPECT_EQ(ops.run(make_call(CallKind::Softmax, DTypeId::F32, 1, 4, 0, 0, 0)).error(),
            BackendError::unsupported(kMsgFloatKernelUnknownOp));
  EXPECT_TRUE(ops.out.untouched());
}

}  // namespace
}  // namespace tessary::cpu
