#include "compute/cpu/elementwise_kernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/test_buffers.h"
#include "compute/cpu/tier_fixture.h"

namespace tessary::cpu {
namespace {

using oracle::bits;
using oracle::from_bits;

const char* const kUnaryNames[] = {"neg",  "relu",  "sigmoid", "tanh", "gelu",       "silu", "elu",
                                   "selu", "exp",   "log",     "log1p", "sqrt",      "reciprocal",
                                   "sin",  "cos",   "tan",     "asin", "acos",       "atan", "ceil",
                                   "floor", "round", "erf",    "is_nan", "sign",     "abs"};
const char* const kBinaryNames[] = {"add", "sub",   "mul",  "div",           "pow",     "mod",
                                    "min", "max",   "equal", "less",         "less_or_equal",
                                    "greater", "greater_or_equal"};
static_assert(std::size(kUnaryNames) == kUnaryOpCount);
static_assert(std::size(kBinaryNames) == kBinaryOpCount);

std::vector<float> special_values() {
  return {0.0f,        -0.0f,      1.0f,         -1.0f,       0.5f,         -0.5f,      1.5f,       -1.5f,
          2.5f,        -2.5f,      3.0f,         -3.0f,       0.49999997f,  1e-30f,     -1e-30f,    1e-45f,
          -1e-45f,     1.17549435e-38f, 87.33654f, 87.4f,    -87.33654f,   -87.4f,     43.67f,     -43.67f,
          88.0f,       89.0f,      -88.0f,       100.0f,      -100.0f,      1e30f,      -1e30f,     3.4028235e38f,
          -3.4028235e38f, oracle::inf(), -oracle::inf(), oracle::qnan(), -oracle::qnan(), from_bits(0x7FA00001u),
          0.999999f,   1.000001f,  -0.999999f,   -1.000001f,  6.2831855f,   1e8f,       -7.25f};
}

// Specials, a sweep over the bit patterns and ordinary values.
std::vector<float> unary_inputs() {
  std::vector<float> v = special_values();
  for (std::uint64_t b = 0; b <= 0xFFFFFFFFu; b += 65537) v.push_back(from_bits(static_cast<std::uint32_t>(b)));
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> d(-12.0f, 12.0f);
  for (int i = 0; i < 3000; ++i) v.push_back(d(rng));
  return v;
}

std::vector<float> decode(DTypeId dtype, const std::uint8_t* p, std::size_t n) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = read_float(p, i, dtype);
  return v;
}

// Runs a unary op over `in` at the given misalignments and returns the output.
std::vector<float> run_unary(UnaryOp op, DTypeId dtype, std::span<const float> in, std::size_t mis_in,
                             std::size_t mis_out) {
  const std::size_t w = *element_width(dtype);
  Region src = encode(dtype, in, mis_in);
  Region dst(in.size() * w, mis_out);
  const auto r = unary_kernel(op, dtype, {src.cbytes(), 1}, {dst.bytes(), 2}, in.size());
  EXPECT_TRUE(r.has_value());
  EXPECT_TRUE(dst.untouched_outside());
  return decode(dtype, dst.data(), in.size());
}

std::vector<float> run_binary(BinaryOp op, DTypeId dtype, std::span<const float> a, std::span<const float> b,
                              std::size_t mis) {
  const std::size_t w = *element_width(dtype);
  Region ra = encode(dtype, a, mis);
  Region rb = encode(dtype, b, 0);
  Region dst(a.size() * w, mis);
  const auto r = binary_kernel(op, dtype, {ra.cbytes(), 1}, {rb.cbytes(), 2}, {dst.bytes(), 3}, a.size());
  EXPECT_TRUE(r.has_value());
  EXPECT_TRUE(dst.untouched_outside());
  return decode(dtype, dst.data(), a.size());
}

// (in, out) misalignments in bytes: the aligned fast path, and element by
// element through an unaligned input, output or both.
constexpr std::pair<std::size_t, std::size_t> kF32Misalign[] = {{0, 0}, {1, 1}, {2, 0}, {0, 3}, {4, 4}};

class ElementwiseF32 : public TierTest {};

TEST_P(ElementwiseF32, UnaryOpsMatchTheirFormulas) {
  const auto in = unary_inputs();
  for (unsigned op = 0; op < kUnaryOpCount; ++op) {
    for (auto [mi, mo] : kF32Misalign) {
      const auto out = run_unary(static_cast<UnaryOp>(op), DTypeId::F32, in, mi, mo);
      for (std::size_t i = 0; i < in.size(); ++i) {
        ASSERT_PRED2(oracle::same, out[i], oracle::unary(op, in[i]))
            << kUnaryNames[op] << "(" << in[i] << ") misalign " << mi << "/" << mo;
      }
    }
  }
}

TEST_P(ElementwiseF32, BinaryOpsMatchTheirFormulas) {
  const auto sp = special_values();
  std::vector<float> a, b;
  for (float x : sp) {
    for (float y : sp) a.push_back(x), b.push_back(y);
  }
  std::mt19937 rng(12);
  std::uniform_real_distribution<float> d(-20.0f, 20.0f);
  for (int i = 0; i < 3000; ++i) a.push_back(d(rng)), b.push_back(d(rng));
  for (unsigned op = 0; op < kBinaryOpCount; ++op) {
    for (std::size_t mis : {0u, 1u, 2u}) {
      const auto out = run_binary(static_cast<BinaryOp>(op), DTypeId::F32, a, b, mis);
      for (std::size_t i = 0; i < a.size(); ++i) {
        ASSERT_PRED2(oracle::same, out[i], oracle::binary(op, a[i], b[i]))
            << kBinaryNames[op] << "(" << a[i] << ", " << b[i] << ") misalign " << mis;
      }
    }
  }
}

// The ops with per-tier code, at lengths around every vector width and the
// staging block, starting off vector boundaries: each element as the formula
// gives it and nothing written past n.
TEST_P(ElementwiseF32, VectorPathsAgreeAtEveryLength) {
  const auto pool = unary_inputs();
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 70; ++n) lengths.push_back(n);
  for (std::size_t n : {127u, 128u, 129u, 255u, 256u, 257u, 511u, 512u, 513u, 1000u}) lengths.push_back(n);
  const UnaryOp unary_ops[] = {UnaryOp::Relu, UnaryOp::Sigmoid, UnaryOp::Tanh, UnaryOp::Gelu, UnaryOp::Silu};
  for (std::size_t n : lengths) {
    for (std::size_t mis : {0u, 4u, 12u}) {
      const std::span<const float> in(pool.data() + n % 7, n);
      for (UnaryOp op : unary_ops) {
        const auto out = run_unary(op, DTypeId::F32, in, mis, mis);
        for (std::size_t i = 0; i < n; ++i) {
          ASSERT_PRED2(oracle::same, out[i], oracle::unary(static_cast<unsigned>(op), in[i]))
              << kUnaryNames[static_cast<unsigned>(op)] << " n=" << n << " i=" << i;
        }
      }
      const std::span<const float> other(pool.data() + 100, n);
      for (BinaryOp op : {BinaryOp::Add, BinaryOp::Mul}) {
        const auto out = run_binary(op, DTypeId::F32, in, other, mis);
        for (std::size_t i = 0; i < n; ++i) {
          ASSERT_PRED2(oracle::same, out[i], oracle::binary(static_cast<unsigned>(op), in[i], other[i]))
              << kBinaryNames[static_cast<unsigned>(op)] << " n=" << n;
        }
      }
    }
  }
}

struct UnaryCase {
  UnaryOp op;
  float x;
  std::uint32_t want;
};

struct BinaryCase {
  BinaryOp op;
  float a, b;
  std::uint32_t want;
};

TEST_P(ElementwiseF32, EdgeCases) {
  const std::uint32_t log_floor = bits(logf(1e-30f));
  EXPECT_EQ(from_bits(log_floor), -69.07755f);
  const UnaryCase unary_cases[] = {
      {UnaryOp::Relu, -0.0f, 0x00000000u},         {UnaryOp::Relu, oracle::qnan(), 0x00000000u},
      {UnaryOp::Sign, -0.0f, 0x00000000u},         {UnaryOp::Sign, oracle::qnan(), 0x00000000u},
      {UnaryOp::Sign, -3.0f, bits(-1.0f)},         {UnaryOp::Neg, 0.0f, 0x80000000u},
      {UnaryOp::Neg, oracle::qnan(), bits(oracle::qnan()) ^ 0x80000000u},
      {UnaryOp::Abs, -oracle::qnan(), bits(oracle::qnan())},
      {UnaryOp::Log, 0.0f, log_floor},             {UnaryOp::Log, -1.0f, log_floor},
      {UnaryOp::Log, oracle::qnan(), log_floor},   {UnaryOp::Sigmoid, oracle::qnan(), bits(1.0f)},
      {UnaryOp::Sigmoid, 87.4f, bits(1.0f)},       {UnaryOp::Tanh, oracle::qnan(), bits(-1.0f)},
      {UnaryOp::Silu, 100.0f, bits(100.0f)},       {UnaryOp::Silu, 87.5f, bits(87.5f)},
      {UnaryOp::Asin, 2.0f, bits(asinf(1.0f))},    {UnaryOp::Acos, -7.0f, bits(acosf(-1.0f))},
      {UnaryOp::Round, 2.5f, bits(3.0f)},          {UnaryOp::Round, -2.5f, bits(-3.0f)},
      {UnaryOp::IsNan, oracle::qnan(), bits(1.0f)}, {UnaryOp::IsNan, oracle::inf(), 0u},
      {UnaryOp::Elu, -oracle::inf(), bits(-1.0f)}, {UnaryOp::Reciprocal, -0.0f, bits(-oracle::inf())},
  };
  for (const auto& c : unary_cases) {
    const float x[] = {c.x};
    EXPECT_EQ(bits(run_unary(c.op, DTypeId::F32, x, 0, 0)[0]), c.want) << kUnaryNames[static_cast<int>(c.op)];
    EXPECT_EQ(bits(run_unary(c.op, DTypeId::F32, x, 1, 2)[0]), c.want) << kUnaryNames[static_cast<int>(c.op)];
  }
  // gelu of NaN is NaN.
  const float nan_in[] = {oracle::qnan()};
  EXPECT_TRUE(std::isnan(run_unary(UnaryOp::Gelu, DTypeId::F32, nan_in, 0, 0)[0]));

  const BinaryCase binary_cases[] = {
      {BinaryOp::Mod, -1.0f, 3.0f, bits(2.0f)},          {BinaryOp::Mod, 1.0f, -3.0f, bits(-2.0f)},
      {BinaryOp::Mod, 7.5f, 2.0f, bits(1.5f)},           {BinaryOp::Max, oracle::qnan(), 2.0f, bits(2.0f)},
      {BinaryOp::Max, 2.0f, oracle::qnan(), bits(2.0f)}, {BinaryOp::Min, oracle::qnan(), -2.0f, bits(-2.0f)},
      {BinaryOp::Min, -2.0f, oracle::qnan(), bits(-2.0f)}, {BinaryOp::Min, 0.0f, -0.0f, 0x80000000u},
      {BinaryOp::Min, -0.0f, 0.0f, 0x80000000u},         {BinaryOp::Max, -0.0f, 0.0f, 0u},
      {BinaryOp::Max, 0.0f, -0.0f, 0u},                  {BinaryOp::Equal, oracle::qnan(), oracle::qnan(), 0u},
      {BinaryOp::Equal, 0.0f, -0.0f, bits(1.0f)},        {BinaryOp::Less, oracle::qnan(), 1.0f, 0u},
      {BinaryOp::LessOrEqual, 1.0f, oracle::qnan(), 0u}, {BinaryOp::Greater, oracle::qnan(), 1.0f, 0u},
      {BinaryOp::GreaterOrEqual, oracle::qnan(), oracle::qnan(), 0u}, {BinaryOp::Less, -1.0f, 1.0f, bits(1.0f)},
  };
  for (const auto& c : binary_cases) {
    const float a[] = {c.a}, b[] = {c.b};
    EXPECT_EQ(bits(run_binary(c.op, DTypeId::F32, a, b, 0)[0]), c.want)
        << kBinaryNames[static_cast<int>(c.op)] << "(" << c.a << ", " << c.b << ")";
    EXPECT_EQ(bits(run_binary(c.op, DTypeId::F32, a, b, 3)[0]), c.want) << kBinaryNames[static_cast<int>(c.op)];
  }
  const float both_nan_a[] = {oracle::qnan()}, both_nan_b[] = {-oracle::qnan()};
  EXPECT_TRUE(std::isnan(run_binary(BinaryOp::Min, DTypeId::F32, both_nan_a, both_nan_b, 0)[0]));
  EXPECT_TRUE(std::isnan(run_binary(BinaryOp::Max, DTypeId::F32, both_nan_a, both_nan_b, 0)[0]));
}

// An output that is exactly its input is computed in place; the vector
// forms of the activations must not read an element after writing it.
TEST_P(ElementwiseF32, InPlaceOutputGivesTheSameValues) {
  const auto in = unary_inputs();
  for (unsigned op = 0; op < kUnaryOpCount; ++op) {
    for (std::size_t mis : {0u, 1u}) {
      Region buf = encode(DTypeId::F32, in, mis);
      ASSERT_TRUE(unary_kernel(static_cast<UnaryOp>(op), DTypeId::F32, {buf.cbytes(), 1}, {buf.bytes(), 1}, in.size()));
      const auto out = decode(DTypeId::F32, buf.data(), in.size());
      for (std::size_t i = 0; i < in.size(); ++i) {
        ASSERT_PRED2(oracle::same, out[i], oracle::unary(op, in[i])) << kUnaryNames[op] << " " << in[i];
      }
    }
  }
}

TESSARY_ALL_TIERS(ElementwiseF32);

// The conversions are called directly: GCC 12 at -O2 and above miscompiles a
// write_float/read_float round trip through one local buffer when the tag is
// only known at run time (the bf16 value comes back unconverted).
float half_round_trip(DTypeId dtype, float x) {
  if (dtype == DTypeId::BF16) return bf16_bits_to_f32(f32_to_bf16_bits(x));
  return f16_bits_to_f32(f32_to_f16_bits(x));
}

float half_from_bits(DTypeId dtype, std::uint32_t p) {
  const auto h = static_cast<std::uint16_t>(p);
  return dtype == DTypeId::BF16 ? bf16_bits_to_f32(h) : f16_bits_to_f32(h);
}

// Every 16-bit pattern through every unary op, in both formats, as the
// conversion to binary32, the formula and the conversion back give it.
TEST(ElementwiseHalf, UnaryOpsOnEveryPattern) {
  for (DTypeId dtype : {DTypeId::F16, DTypeId::BF16}) {
    std::vector<float> in(65536);
    for (std::uint32_t p = 0; p < 65536; ++p) in[p] = half_from_bits(dtype, p);
    for (unsigned op = 0; op < kUnaryOpCount; ++op) {
      for (std::size_t mis : {0u, 1u}) {
        const auto out = run_unary(static_cast<UnaryOp>(op), dtype, in, mis, 1 - mis);
        for (std::uint32_t p = 0; p < 65536; ++p) {
          const float want = half_round_trip(dtype, oracle::unary(op, in[p]));
          ASSERT_PRED2(oracle::same, out[p], want)
              << kUnaryNames[op] << " pattern " << p << " dtype " << static_cast<int>(dtype);
        }
      }
    }
  }
}

TEST(ElementwiseHalf, BinaryOpsAgreeWithBinary32) {
  std::mt19937 rng(13);
  std::uniform_int_distribution<std::uint32_t> pat(0, 65535);
  for (DTypeId dtype : {DTypeId::F16, DTypeId::BF16}) {
    std::vector<float> a, b;
    const auto sp = special_values();
    for (float x : sp) {
      for (float y : sp) a.push_back(half_round_trip(dtype, x)), b.push_back(half_round_trip(dtype, y));
    }
    for (int i = 0; i < 20000; ++i) {
      a.push_back(half_from_bits(dtype, pat(rng)));
      b.push_back(half_from_bits(dtype, pat(rng)));
    }
    for (unsigned op = 0; op < kBinaryOpCount; ++op) {
      for (std::size_t mis : {0u, 1u}) {
        const auto out = run_binary(static_cast<BinaryOp>(op), dtype, a, b, mis);
        for (std::size_t i = 0; i < a.size(); ++i) {
          ASSERT_PRED2(oracle::same, out[i], half_round_trip(dtype, oracle::binary(op, a[i], b[i])))
              << kBinaryNames[op] << "(" << a[i] << ", " << b[i] << ") dtype " << static_cast<int>(dtype);
        }
      }
    }
  }
}

std::string_view message_of(const BackendResult<void>& r) { return r ? "" : r.error().message; }

TEST(ElementwiseChecks, DtypesWithoutAFloatFormAreRefused) {
  Region in(64, 0), out(64, 0);
  const KernelInput i{in.cbytes(), 1};
  const KernelOutput o{out.bytes(), 2};
  const std::string_view no_width = "float kernel: dtype has no fixed element width (sub-byte or unknown)";
  const std::string_view f64 = "f64 is not a supported compute dtype (tessary computes in f16/bf16/f32)";
  const std::string_view compute_only = "float kernel: only f32/f16/bf16 are supported compute dtypes";
  const struct {
    std::uint8_t tag;
    std::string_view message;
  } cases[] = {{10, no_width}, {11, no_width}, {12, no_width}, {255, no_width},
               {9, f64},       {1, compute_only}, {4, compute_only}, {0, compute_only}};
  for (const auto& c : cases) {
    const auto dtype = static_cast<DTypeId>(c.tag);
    for (const auto& r : {unary_kernel(UnaryOp::Relu, dtype, i, o, 4), unary_kernel(UnaryOp::Sigmoid, dtype, i, o, 4),
                          binary_kernel(BinaryOp::Add, dtype, i, i, o, 4),
                          unary_act(ActTable::Tanh, dtype, i, o, 4, [](float x) { return x; }, nullptr),
                          unary_float_acc(dtype, i, o, 0, [](float x) { return x; }, nullptr)}) {
      ASSERT_FALSE(r.has_value());
      EXPECT_TRUE(r.error().is_unsupported());
      EXPECT_EQ(message_of(r), c.message) << "tag " << int(c.tag);
    }
  }
  EXPECT_TRUE(out.untouched());
}

TEST(ElementwiseChecks, ShortBuffersAreNamedAndNothingIsWritten) {
  for (DTypeId dtype : {DTypeId::F32, DTypeId::F16, DTypeId::BF16}) {
    const std::size_t w = *element_width(dtype);
    const std::size_t n = 10;
    Region a(n * w, 0), short_a(n * w - 1, 0), b(n * w, 0), out(n * w, 0), short_out(n * w - 1, 0);
    for (UnaryOp op : {UnaryOp::Neg, UnaryOp::Sigmoid, UnaryOp::Exp}) {
      EXPECT_EQ(unary_kernel(op, dtype, {short_a.cbytes(), 7}, {out.bytes(), 9}, n).error(),
                BackendError::buffer_error(7));
      EXPECT_EQ(unary_kernel(op, dtype, {a.cbytes(), 7}, {short_out.bytes(), 9}, n).error(),
                BackendError::buffer_error(9));
    }
    EXPECT_EQ(binary_kernel(BinaryOp::Sub, dtype, {short_a.cbytes(), 4}, {b.cbytes(), 5}, {out.bytes(), 6}, n).error(),
              BackendError::buffer_error(4));
    EXPECT_EQ(binary_kernel(BinaryOp::Sub, dtype, {a.cbytes(), 4}, {short_a.cbytes(), 5}, {out.bytes(), 6}, n).error(),
              BackendError::buffer_error(5));
    EXPECT_EQ(binary_kernel(BinaryOp::Add, dtype, {a.cbytes(), 4}, {b.cbytes(), 5}, {short_out.bytes(), 6}, n).error(),
              BackendError::buffer_error(6));
    EXPECT_TRUE(out.untouched());
    EXPECT_TRUE(short_out.untouched());
  }
  // A count whose byte size overflows is a short buffer, not a wrap-around.
  Region a(64, 0), out(64, 0);
  EXPECT_EQ(unary_kernel(UnaryOp::Abs, DTypeId::F32, {a.cbytes(), 1}, {out.bytes(), 2}, (1ull << 62) + 1).error(),
            BackendError::buffer_error(1));
  EXPECT_TRUE(out.untouched());
}

TEST(ElementwiseChecks, ZeroElementsSucceedWithoutWriting) {
  Region a(16, 0), out(16, 0);
  for (DTypeId dtype : {DTypeId::F32, DTypeId::F16, DTypeId::BF16}) {
    for (unsigned op = 0; op < kUnaryOpCount; ++op) {
      EXPECT_TRUE(unary_kernel(static_cast<UnaryOp>(op), dtype, {a.cbytes(), 1}, {out.bytes(), 2}, 0));
      EXPECT_TRUE(unary_kernel(static_cast<UnaryOp>(op), dtype, {{}, 1}, {{}, 2}, 0));
    }
    for (unsigned op = 0; op < kBinaryOpCount; ++op) {
      EXPECT_TRUE(binary_kernel(static_cast<BinaryOp>(op), dtype, {a.cbytes(), 1}, {{}, 3}, {out.bytes(), 2}, 0));
    }
  }
  EXPECT_TRUE(out.untouched());
}

TEST(ElementwiseChecks, ShiftedOverlapIsRefusedExactAliasIsNot) {
  Region buf(64, 0);
  const std::span<std::uint8_t> all = buf.bytes();
  // Output four bytes after the input: the first write would clobber input 1.
  const auto r = unary_kernel(UnaryOp::Sigmoid, DTypeId::F32, {all.first(32), 3}, {all.subspan(4, 32), 4}, 8);
  EXPECT_EQ(r.error(), BackendError::buffer_error(3));
  EXPECT_TRUE(buf.untouched());
  const auto rb = binary_kernel(BinaryOp::Add, DTypeId::F32, {all.first(16), 3}, {all.subspan(32, 16), 5},
                                {all.subspan(36, 16), 4}, 4);
  EXPECT_EQ(rb.error(), BackendError::buffer_error(5));
  // Both operands the output itself: x + x.
  const float v[] = {1.5f, -2.0f, 3.25f, 0.0f};
  Region same = encode(DTypeId::F32, v, 0);
  ASSERT_TRUE(binary_kernel(BinaryOp::Add, DTypeId::F32, {same.cbytes(), 1}, {same.cbytes(), 1}, {same.bytes(), 1}, 4));
  EXPECT_EQ(decode(DTypeId::F32, same.data(), 4), (std::vector<float>{3.0f, -4.0f, 6.5f, 0.0f}));
}

// The generic forms: a scalar function of the caller's, with and without a
// slice, on the fast path and element by element.
TEST(ElementwiseGeneric, CallerFunctionsOnBothPaths) {
  const auto in = unary_inputs();
  const auto triple = [](float x) { return x * 3.0f; };
  for (std::size_t mis : {0u, 1u}) {
    Region src = encode(DTypeId::F32, in, mis);
    Region dst(in.size() * 4, mis);
    ASSERT_TRUE(unary_float_acc(DTypeId::F32, {src.cbytes(), 1}, {dst.bytes(), 2}, in.size(), triple, nullptr));
    const auto out = decode(DTypeId::F32, dst.data(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_PRED2(oracle::same, out[i], in[i] * 3.0f);

    Region b = encode(DTypeId::F32, in, 0);
    ASSERT_TRUE(binary_float_acc(DTypeId::F32, {src.cbytes(), 1}, {b.cbytes(), 2}, {dst.bytes(), 3}, in.size(),
                                 [](float x, float y) { return x - 2.0f * y; }, nullptr));
    const auto out2 = decode(DTypeId::F32, dst.data(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_PRED2(oracle::same, out2[i], in[i] - 2.0f * in[i]);

    // unary_act on f32 runs the slice on the fast path, the scalar function
    // otherwise; on f16 it uses the table whatever functions are passed.
    ASSERT_TRUE(unary_act(ActTable::Silu, DTypeId::F32, {src.cbytes(), 1}, {dst.bytes(), 2}, in.size(),
                          [](float x) { return oracle::silu(x); }, silu_slice));
    const auto out3 = decode(DTypeId::F32, dst.data(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) ASSERT_PRED2(oracle::same, out3[i], oracle::silu(in[i]));
  }
  Region h = encode(DTypeId::F16, std::span<const float>(in.data(), 100), 1);
  Region hout(200, 0);
  ASSERT_TRUE(unary_act(ActTable::Erf, DTypeId::F16, {h.cbytes(), 1}, {hout.bytes(), 2}, 100, nullptr, nullptr));
  for (std::size_t i = 0; i < 100; ++i) {
    ASSERT_PRED2(oracle::same, read_float(hout.data(), i, DTypeId::F16),
                 half_round_trip(DTypeId::F16, erff(read_float(h.data(), i, DTypeId::F16))));
  }
  // n = 0 on the table path touches nothing, even without buffers.
  EXPECT_TRUE(unary_act(ActTable::Exp, DTypeId::BF16, {{}, 1}, {{}, 2}, 0, nullptr, nullptr));
}

}  // namespace
}  // namespace tessary::cpu
