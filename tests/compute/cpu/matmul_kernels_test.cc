#include "compute/cpu/matmul_kernels.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/matmul_reference.h"
#include "compute/cpu/matmul_scratch.h"
#include "compute/cpu/test_buffers.h"
#include "compute/cpu/tier_fixture.h"
#include "compute/cpu/widen_lowp.h"
#include "types/dtype.h"

namespace tessary::cpu {
namespace {

constexpr std::uint32_t kIdA = 1, kIdB = 2, kIdC = 3, kIdD = 4, kIdOut = 9;

MatmulCall matmul_call(std::uint32_t m, std::uint32_t k, std::uint32_t n, DTypeId dtype, bool packed = false,
                       CallKind kind = CallKind::Matmul, std::uint8_t act = 0) {
  MatmulCall c;
  c.kind = kind;
  c.m = m;
  c.k = k;
  c.n = n;
  c.dtype = dtype;
  c.packed = packed;
  c.act = act;
  return c;
}

KernelInput in(Region& r, std::uint32_t id) { return KernelInput{r.cbytes(), id}; }
KernelOutput out(Region& r) { return KernelOutput{r.bytes(), kIdOut}; }

std::vector<float> decode(DTypeId dtype, Region& r, std::size_t count) {
  std::vector<float> v(count);
  for (std::size_t i = 0; i < count; ++i) v[i] = read_float(r.data(), i, dtype);
  return v;
}

// The product the f32 engines give on the pinned tier.
std::vector<float> engine_product(const std::vector<float>& a, const std::vector<float>& b, std::size_t m,
                                  std::size_t k, std::size_t n, bool packed) {
  if (detect_path() == SimdPath::Scalar) return ref::rounded(a, b, m, k, n);
  if (!packed) return ref::recursive(a, b, m, k, n);
  const auto p = ref::pack_panels(b, k, n);
  std::vector<float> c(m * n);
  ref::packed_recursive(a.data(), k, ref::Panels{p.data(), k}, 0, 0, c.data(), n, m, k, n, false);
  return c;
}

float act_ref(std::uint8_t act, float x) {
  switch (act) {
    case 1: return oracle::relu(x);
    case 2: return oracle::gelu(x);
    case 3: return oracle::silu(x);
    case 4: return oracle::sigmoid(x);
    case 5: return oracle::tanh(x);
    case 6: return oracle::elu(x);
    case 7: return oracle::selu(x);
    case 8: return expf(x);
    default: return x;
  }
}

void expect_values(DTypeId dtype, Region& r, const std::vector<float>& want, const char* what) {
  for (std::size_t i = 0; i < want.size(); ++i) {
    ASSERT_PRED2(oracle::same, read_float(r.data(), i, dtype), want[i]) << what << " element " << i;
  }
  EXPECT_TRUE(r.untouched_outside()) << what;
}

// Values as the output format stores them.
std::vector<float> rounded_to(DTypeId dtype, const std::vector<float>& v) {
  std::vector<float> r(v.size());
  std::uint8_t buf[4];
  for (std::size_t i = 0; i < v.size(); ++i) {
    write_float(buf, 0, dtype, v[i]);
    r[i] = read_float(buf, 0, dtype);
  }
  return r;
}

class MatmulKernels : public TierTest {};

// f32 on every tier, row-major and packed B, aligned and not: the engines'
// values, and nothing written outside the output.
TEST_P(MatmulKernels, F32MatchesEnginesAlignedOrNot) {
  for (const auto [m, k, n] : {std::array<std::uint32_t, 3>{1, 1, 1}, {3, 5, 19}, {9, 20, 33}, {65, 64, 64}}) {
    const auto av = ref::random_values(m * k, m + 1);
    const auto bv = ref::random_values(k * n, n + 2);
    for (bool packed : {false, true}) {
      const auto want = engine_product(av, bv, m, k, n, packed);
      for (std::size_t misalign : {0u, 1u, 2u}) {
        Region a = encode(DTypeId::F32, av, misalign);
        Region b = encode(DTypeId::F32, packed ? ref::pack_panels(bv, k, n) : bv, misalign);
        Region o(std::size_t{m} * n * 4, misalign);
        ASSERT_TRUE(matmul_float(matmul_call(m, k, n, DTypeId::F32, packed), in(a, kIdA), in(b, kIdB), out(o)));
        expect_values(DTypeId::F32, o, want, packed ? "packed" : "row-major");
      }
    }
  }
}

// f16 / bf16: m = 8 runs the small-m engine on raw B, m = 9 widens B and
// runs the blocked engine; each is exact to its own definition, and the two
// agree within the output's rounding.
TEST_P(MatmulKernels, HalfPrecisionSmallAndWideRows) {
  const std::uint32_t k = 37, n = 21;
  for (DTypeId dtype : {DTypeId::F16, DTypeId::BF16}) {
    const auto a9 = rounded_to(dtype, ref::random_values(9 * k, 3));
    const auto bv = rounded_to(dtype, ref::random_values(k * n, 4));
    Region b = encode(dtype, bv, 0);
    std::vector<float> got8, got9;
    for (std::uint32_t m : {8u, 9u}) {
      const std::vector<float> av(a9.begin(), a9.begin() + m * k);
      Region a = encode(dtype, av, m == 8 ? 0 : 1);
      Region o(std::size_t{m} * n * 2, 0);
      ASSERT_TRUE(matmul_float(matmul_call(m, k, n, dtype), in(a, kIdA), in(b, kIdB), out(o)));
      const auto product = m <= 8 ? ref::small_m(av, bv, m, k, n, lowp_vector_path())
                                  : (detect_path() == SimdPath::Scalar ? ref::rounded(av, bv, m, k, n)
                                                                       : ref::recursive(av, bv, m, k, n));
      expect_values(dtype, o, rounded_to(dtype, product), m == 8 ? "small m" : "widened");
      (m == 8 ? got8 : got9) = decode(dtype, o, std::size_t{m} * n);
    }
    const float ulp = dtype == DTypeId::F16 ? 0x1p-10f : 0x1p-7f;
    for (std::size_t i = 0; i < got8.size(); ++i) {
      EXPECT_LE(std::fabs(got8[i] - got9[i]), 2 * ulp * std::fmax(1.0f, std::fabs(got9[i]))) << i;
    }
  }
}

TEST_P(MatmulKernels, GemmScalesProductAndCarriesC) {
  const std::uint32_t m = 10, k = 23, n = 19;
  const auto av = ref::random_values(m * k, 5), bv = ref::random_values(k * n, 6), cv = ref::random_values(m * n, 7);
  struct Case {
    float alpha, beta;
  };
  for (DTypeId dtype : {DTypeId::F32, DTypeId::F16, DTypeId::BF16}) {
    const auto a_vals = rounded_to(dtype, av), b_vals = rounded_to(dtype, bv), c_vals = rounded_to(dtype, cv);
    const auto product = dtype == DTypeId::F32 || detect_path() != SimdPath::Scalar
                             ? engine_product(a_vals, b_vals, m, k, n, false)
                             : ref::rounded(a_vals, b_vals, m, k, n);
    for (const Case& cs : {Case{0.75f, -1.5f}, Case{1.0f, 0.0f}, Case{-2.0f, 0.3f}}) {
      Region a = encode(dtype, a_vals, 0), b = encode(dtype, b_vals, 0), c = encode(dtype, c_vals, 0);
      Region o(std::size_t{m} * n * *element_width(dtype), 0);
      GemmCall g;
      g.m = m, g.k = k, g.n = n, g.dtype = dtype;
      g.alpha = std::bit_cast<std::uint32_t>(cs.alpha);
      g.beta = std::bit_cast<std::uint32_t>(cs.beta);
      ASSERT_TRUE(gemm_kernel(g, in(a, kIdA), in(b, kIdB), in(c, kIdC), out(o)));
      std::vector<float> want(m * n);
      for (std::size_t i = 0; i < want.size(); ++i) {
        want[i] = dtype == DTypeId::F32 ? cs.alpha * product[i] + cs.beta * c_vals[i]
                                        : c_vals[i] * cs.beta + product[i] * cs.alpha;
      }
      expect_values(dtype, o, rounded_to(dtype, want), "gemm");
      if (dtype == DTypeId::F32 && cs.alpha == 1.0f && cs.beta == 0.0f) {
        Region o2(std::size_t{m} * n * 4, 0);
        ASSERT_TRUE(matmul_float(matmul_call(m, k, n, dtype), in(a, kIdA), in(b, kIdB), out(o2)));
        EXPECT_EQ(std::memcmp(o.data(), o2.data(), std::size_t{m} * n * 4), 0) << "alpha 1, beta 0 is matmul";
      }
    }
  }
}

// Each fused form through matmul_kernel: f32 adds and activates the
// binary32 product; f16 and bf16 round the product, read it back, add,
// activate and round again.
TEST_P(MatmulKernels, FusedFormsEveryActivation) {
  const std::uint32_t m = 9, k = 40, n = 20;
  std::vector<float> dvals = ref::random_values(m * n, 8);
  for (float& x : dvals) x *= 4.0f;
  for (DTypeId dtype : {DTypeId::F32, DTypeId::F16, DTypeId::BF16}) {
    const auto av = rounded_to(dtype, ref::random_values(m * k, 9));
    const auto bv = rounded_to(dtype, ref::random_values(k * n, 10));
    const auto dv = rounded_to(dtype, dvals);
    const auto product = detect_path() == SimdPath::Scalar ? ref::rounded(av, bv, m, k, n)
                                                           : ref::recursive(av, bv, m, k, n);
    const auto stored = rounded_to(dtype, product);
    for (CallKind kind : {CallKind::MatmulAdd, CallKind::MatmulActivation, CallKind::MatmulAddActivation}) {
      const bool adds = kind != CallKind::MatmulActivation;
      for (unsigned act = 0; act <= 9; ++act) {
        if (kind == CallKind::MatmulAdd && act > 0) break;
        Region a = encode(dtype, av, 0), b = encode(dtype, bv, 0), d = encode(dtype, dv, 0);
        Region o(std::size_t{m} * n * *element_width(dtype), 0);
        const auto call = matmul_call(m, k, n, dtype, false, kind, static_cast<std::uint8_t>(act));
        ASSERT_TRUE(matmul_kernel(call, in(a, kIdA), in(b, kIdB), adds ? in(d, kIdD) : KernelInput{}, out(o)));
        std::vector<float> want(m * n);
        for (std::size_t i = 0; i < want.size(); ++i) {
          const float base = dtype == DTypeId::F32 ? product[i] : stored[i];
          want[i] = act_ref(static_cast<std::uint8_t>(act), adds ? base + dv[i] : base);
        }
        expect_values(dtype, o, rounded_to(dtype, want), "fused");
      }
    }
  }
}

TESSARY_ALL_TIERS(MatmulKernels);

// The widening conversion gives read_float's bits for every pattern, on
// every tier and at any byte offset.
TEST_P(MatmulKernels, WidenEveryPattern) {
  std::vector<std::uint8_t> bytes(2 * 65536 + 1);
  for (std::uint32_t p = 0; p < 65536; ++p) {
    bytes[1 + 2 * p] = static_cast<std::uint8_t>(p);
    bytes[2 + 2 * p] = static_cast<std::uint8_t>(p >> 8);
  }
  std::vector<float> got(65536);
  for (DTypeId dtype : {DTypeId::F16, DTypeId::BF16}) {
    widen_lowp_to_f32(bytes.data() + 1, got.data(), 65536,
                      dtype == DTypeId::BF16 ? HalfFormat::BF16 : HalfFormat::F16);
    for (std::uint32_t p = 0; p < 65536; ++p) {
      ASSERT_EQ(oracle::bits(got[p]), oracle::bits(read_float(bytes.data() + 1, p, dtype))) << std::hex << p;
    }
  }
}

struct Refusal {
  const char* what;
  MatmulCall call;
  std::size_t a_elems, b_elems, out_elems;
  std::size_t width;
  BackendError error;
};

// Every refusal comes before any write.
TEST(MatmulKernelChecks, RefusalsWriteNothing) {
  const auto m = [](DTypeId t, bool packed = false) { return matmul_call(2, 3, 17, t, packed); };
  const Refusal cases[] = {
      {"i4", m(DTypeId::I4), 6, 51, 34, 1, BackendError::unsupported(kMsgNoFixedWidth)},
      {"unknown tag", m(static_cast<DTypeId>(200)), 6, 51, 34, 4, BackendError::unsupported(kMsgNoFixedWidth)},
      {"f64", m(DTypeId::F64), 6, 51, 34, 8, BackendError::unsupported(kMsgMatmulComputeOnly)},
      {"i32", m(DTypeId::I32), 6, 51, 34, 4, BackendError::unsupported(kMsgMatmulComputeOnly)},
      {"u8", m(DTypeId::U8), 6, 51, 34, 1, BackendError::unsupported(kMsgMatmulComputeOnly)},
      {"short a", m(DTypeId::F32), 5, 51, 34, 4, BackendError::buffer_error(kIdA)},
      {"short b", m(DTypeId::F32), 6, 50, 34, 4, BackendError::buffer_error(kIdB)},
      {"short packed b", m(DTypeId::F32, true), 6, 51, 34, 4, BackendError::buffer_error(kIdB)},
      {"short out", m(DTypeId::F16), 6, 51, 33, 2, BackendError::buffer_error(kIdOut)},
  };
  for (const Refusal& r : cases) {
    Region a(r.a_elems * r.width, 0), b(r.b_elems * r.width, 0), o(r.out_elems * r.width, 0);
    const auto got = matmul_float(r.call, in(a, kIdA), in(b, kIdB), out(o));
    ASSERT_FALSE(got) << r.what;
    EXPECT_EQ(got.error(), r.error) << r.what;
    EXPECT_TRUE(o.untouched()) << r.what;
  }
  // A packed B needs whole panels: 3 rows of 2 panels.
  Region a(6 * 4, 0), b(3 * 32 * 4, 0), o(34 * 4, 0);
  EXPECT_TRUE(matmul_float(m(DTypeId::F32, true), in(a, kIdA), in(b, kIdB), out(o)));

  // The addend of the add forms, and gemm's C, are checked too.
  Region d(33 * 4, 0), o2(34 * 4, 0);
  const auto add = matmul_kernel(matmul_call(2, 3, 17, DTypeId::F32, false, CallKind::MatmulAdd), in(a, kIdA),
                                 in(b, kIdB), in(d, kIdD), out(o2));
  ASSERT_FALSE(add);
  EXPECT_EQ(add.error(), BackendError::buffer_error(kIdD));
  EXPECT_TRUE(o2.untouched());

  GemmCall g;
  g.m = 2, g.k = 3, g.n = 17, g.dtype = DTypeId::F32;
  Region ga(6 * 4, 0), gb(51 * 4, 0), gc(33 * 4, 0), go(34 * 4, 0);
  auto ge = gemm_kernel(g, in(ga, kIdA), in(gb, kIdB), in(gc, kIdC), out(go));
  ASSERT_FALSE(ge);
  EXPECT_EQ(ge.error(), BackendError::buffer_error(kIdC));
  g.dtype = DTypeId::I32;
  Region gc2(34 * 4, 0);
  ge = gemm_kernel(g, in(ga, kIdA), in(gb, kIdB), in(gc2, kIdC), out(go));
  ASSERT_FALSE(ge);
  EXPECT_EQ(ge.error(), BackendError::unsupported(kMsgGemmComputeOnly));
  EXPECT_TRUE(go.untouched());

  const auto swiglu = matmul_kernel(matmul_call(2, 3, 17, DTypeId::F32, false, CallKind::FusedSwiglu), in(ga, kIdA),
                                    in(gb, kIdB), KernelInput{}, out(go));
  ASSERT_FALSE(swiglu);
  EXPECT_TRUE(swiglu.error().is_unsupported());
}

// An input sharing bytes with the output is refused, naming the input.
TEST(MatmulKernelChecks, InputOverlappingOutputIsRefused) {
  std::vector<float> buf(64, 1.0f);
  auto bytes = std::as_writable_bytes(std::span<float>(buf));
  auto* p = reinterpret_cast<std::uint8_t*>(bytes.data());
  const KernelInput a{{p, 16}, kIdA};   // [2, 2]
  const KernelInput b{{p + 64, 16}, kIdB};
  const KernelOutput o{{p + 8, 16}, kIdOut};  // overlaps a
  const auto r = matmul_float(matmul_call(2, 2, 2, DTypeId::F32), a, b, o);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), BackendError::buffer_error(kIdA));
  EXPECT_EQ(buf[2], 1.0f);
}

// Zero sizes succeed without touching anything; with only k = 0 the fused
// forms apply their epilogue to the (zero-filled) output.
TEST(MatmulKernelChecks, EmptyProducts) {
  for (const auto [m, k, n] : {std::array<std::uint32_t, 3>{0, 3, 4}, {2, 0, 4}, {2, 3, 0}}) {
    Region a(64, 0), b(64, 0), c(64, 0), o(64, 0);
    EXPECT_TRUE(matmul_float(matmul_call(m, k, n, DTypeId::F32), in(a, kIdA), in(b, kIdB), out(o)));
    EXPECT_TRUE(matmul_float(matmul_call(m, k, n, DTypeId::I4), in(a, kIdA), in(b, kIdB), out(o)));
    GemmCall g;
    g.m = m, g.k = k, g.n = n, g.dtype = DTypeId::F32;
    EXPECT_TRUE(gemm_kernel(g, in(a, kIdA), in(b, kIdB), in(c, kIdC), out(o)));
    EXPECT_TRUE(o.untouched());
  }
  const std::vector<float> dv = {-1.0f, 2.0f, -3.0f, 4.0f};
  for (DTypeId dtype : {DTypeId::F32, DTypeId::F16}) {
    Region d = encode(dtype, dv, 0);
    Region o = encode(dtype, std::vector<float>(4, 0.0f), 0);
    Region none(0, 0);
    const auto call = matmul_call(2, 0, 2, dtype, false, CallKind::MatmulAddActivation, 1);
    ASSERT_TRUE(matmul_kernel(call, in(none, kIdA), in(none, kIdB), in(d, kIdD), out(o)));
    expect_values(dtype, o, {0.0f, 2.0f, 0.0f, 4.0f}, "k = 0 epilogue");
  }
}

// A kernel re-entered on the same thread gets its own arrays; the thread's
// arrays come back once the outer lease ends.
TEST(MatmulScratch, NestedLeaseGetsTemporaryArrays) {
  std::optional<ScratchLease<WidenArrays>> outer;
  outer.emplace(widen_scratch_slot());
  EXPECT_TRUE(outer->owns_thread_arrays());
  grow_to(outer->get().a, 10);
  const WidenArrays* held = &outer->get();
  {
    ScratchLease<WidenArrays> inner(widen_scratch_slot());
    EXPECT_FALSE(inner.owns_thread_arrays());
    EXPECT_NE(&inner.get(), held);
    EXPECT_TRUE(inner.get().a.empty());
  }
  outer.reset();
  outer.emplace(widen_scratch_slot());
  EXPECT_TRUE(outer->owns_thread_arrays());
  EXPECT_EQ(&outer->get(), held);
  EXPECT_GE(outer->get().a.size(), 10u);
}

}  // namespace
}  // namespace tessary::cpu
