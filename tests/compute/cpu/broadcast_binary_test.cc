#include "compute/cpu/broadcast_binary.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/test_buffers.h"

namespace tessary::cpu {
namespace {

using oracle::bits;

BroadcastBinaryParams params(std::uint8_t op, bool order, std::vector<std::uint32_t> in_dims,
                             std::vector<std::uint32_t> out_dims) {
  BroadcastBinaryParams p;
  p.op = op;
  p.order = order;
  p.rank = static_cast<std::uint8_t>(out_dims.size());
  for (std::size_t k = 0; k < out_dims.size() && k < 8; ++k) p.in_dims[k] = in_dims[k], p.out_dims[k] = out_dims[k];
  return p;
}

// The broadcast operand's element for each output element, from the output
// multi-index directly.
std::vector<float> expected(const BroadcastBinaryParams& p, const std::vector<float>& a, const std::vector<float>& b) {
  std::vector<float> out(b.size());
  for (std::size_t i = 0; i < b.size(); ++i) {
    std::size_t rest = i, a_index = 0, a_stride = 1;
    for (int k = p.rank - 1; k >= 0; --k) {
      const std::size_t idx = rest % p.out_dims[k];
      rest /= p.out_dims[k];
      if (p.in_dims[k] != 1) a_index += idx * a_stride;
      a_stride *= p.in_dims[k];
    }
    const float x = a[a_index], y = b[i];
    switch (p.op) {
      case 0: out[i] = x + y; break;
      case 1: out[i] = p.order ? x - y : y - x; break;
      default: out[i] = x * y; break;
    }
  }
  return out;
}

std::size_t count(const std::array<std::uint32_t, 8>& dims, unsigned rank) {
  std::size_t n = 1;
  for (unsigned k = 0; k < rank; ++k) n *= dims[k];
  return n;
}

std::vector<float> run(const BroadcastBinaryParams& p, DTypeId dtype, const std::vector<float>& a,
                       const std::vector<float>& b, std::size_t misalign) {
  Region ra = encode(dtype, a, misalign);
  Region rb = encode(dtype, b, 0);
  Region out(b.size() * *element_width(dtype), misalign);
  const auto r = broadcast_binary_kernel(p, dtype, {ra.cbytes(), 1}, {rb.cbytes(), 2}, {out.bytes(), 3});
  EXPECT_TRUE(r.has_value());
  EXPECT_TRUE(out.untouched_outside());
  std::vector<float> v(b.size());
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = read_float(out.data(), i, dtype);
  return v;
}

TEST(BroadcastBinary, RowSubtractedFromEveryRowInTheChosenOrder) {
  const std::vector<float> row = {1.0f, 2.0f, 3.0f};
  const std::vector<float> full = {10.0f, 20.0f, 30.0f, 40.0f, 50.0f, 60.0f};
  for (std::size_t mis : {0u, 2u}) {
    EXPECT_EQ(run(params(1, true, {1, 3}, {2, 3}), DTypeId::F32, row, full, mis),
              (std::vector<float>{-9.0f, -18.0f, -27.0f, -39.0f, -48.0f, -57.0f}));
    EXPECT_EQ(run(params(1, false, {1, 3}, {2, 3}), DTypeId::F32, row, full, mis),
              (std::vector<float>{9.0f, 18.0f, 27.0f, 39.0f, 48.0f, 57.0f}));
  }
  // A column ([2, 1]) combines its single value with a whole row.
  EXPECT_EQ(run(params(2, false, {2, 1}, {2, 3}), DTypeId::F32, {2.0f, -1.0f}, full, 0),
            (std::vector<float>{20.0f, 40.0f, 60.0f, -40.0f, -50.0f, -60.0f}));
}

// Random shapes of every rank with random broadcast dimensions, every op and
// order, each element type, aligned and not.
TEST(BroadcastBinary, MatchesDirectIndexingOnRandomShapes) {
  std::mt19937 rng(21);
  std::uniform_int_distribution<std::uint32_t> dim(1, 5), coin(0, 2);
  std::uniform_real_distribution<float> val(-4.0f, 4.0f);
  for (int trial = 0; trial < 400; ++trial) {
    const unsigned rank = 1 + trial % 8;
    std::vector<std::uint32_t> out_dims(rank), in_dims(rank);
    for (unsigned k = 0; k < rank; ++k) {
      out_dims[k] = rank > 5 ? 1 + dim(rng) % 3 : dim(rng) + (k + 1 == rank ? 9 * (trial % 3) : 0);
      in_dims[k] = coin(rng) == 0 ? 1 : out_dims[k];
    }
    const auto p = params(static_cast<std::uint8_t>(trial % 3), trial % 2 == 0, in_dims, out_dims);
    std::vector<float> a(count(p.in_dims, rank)), b(count(p.out_dims, rank));
    for (float& x : a) x = val(rng);
    for (float& x : b) x = val(rng);
    for (DTypeId dtype : {DTypeId::F32, DTypeId::F16, DTypeId::BF16}) {
      std::vector<float> qa = a, qb = b;  // values the element type can hold
      for (float& x : qa) x = read_float(encode(dtype, std::span<const float>(&x, 1), 0).data(), 0, dtype);
      for (float& x : qb) x = read_float(encode(dtype, std::span<const float>(&x, 1), 0).data(), 0, dtype);
      const auto want = expected(p, qa, qb);
      for (std::size_t mis : {0u, 1u}) {
        const auto got = run(p, dtype, qa, qb, mis);
        for (std::size_t i = 0; i < want.size(); ++i) {
          const float w = read_float(encode(dtype, std::span<const float>(&want[i], 1), 0).data(), 0, dtype);
          ASSERT_EQ(bits(got[i]), bits(w)) << "trial " << trial << " dtype " << int(dtype) << " i " << i;
        }
      }
    }
  }
}

TEST(BroadcastBinary, OutputMayBeTheFullOperand) {
  const std::vector<float> a = {1.0f, 2.0f};
  const std::vector<float> b = {5.0f, 6.0f, 7.0f, 8.0f};
  Region ra = encode(DTypeId::F32, a, 0);
  Region rb = encode(DTypeId::F32, b, 0);
  ASSERT_TRUE(broadcast_binary_kernel(params(0, false, {1, 2}, {2, 2}), DTypeId::F32, {ra.cbytes(), 1},
                                      {rb.cbytes(), 2}, {rb.bytes(), 2}));
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(read_float(rb.data(), i, DTypeId::F32), b[i] + a[i % 2]);
}

TEST(BroadcastBinary, RefusalsAndBufferErrors) {
  Region a(64, 0), b(64, 0), out(64, 0);
  const KernelInput ia{a.cbytes(), 1}, ib{b.cbytes(), 2};
  const KernelOutput o{out.bytes(), 3};
  const auto msg = [](const BackendResult<void>& r) { return r ? std::string_view() : r.error().message; };
  EXPECT_EQ(msg(broadcast_binary_kernel(params(3, false, {1}, {4}), DTypeId::F32, ia, ib, o)),
            "broadcast_binary: bad op");
  EXPECT_EQ(msg(broadcast_binary_kernel(params(0, false, {}, {}), DTypeId::F32, ia, ib, o)),
            "broadcast_binary: rank must be 1..=8");
  auto rank9 = params(0, false, {1}, {4});
  rank9.rank = 9;
  EXPECT_EQ(msg(broadcast_binary_kernel(rank9, DTypeId::F32, ia, ib, o)), "broadcast_binary: rank must be 1..=8");
  for (std::uint8_t tag : {0, 1, 4, 10, 11, 200}) {
    EXPECT_EQ(msg(broadcast_binary_kernel(params(0, false, {1}, {4}), static_cast<DTypeId>(tag), ia, ib, o)),
              "broadcast_binary: float-only (byte-domain broadcast not fused)");
  }
  EXPECT_EQ(msg(broadcast_binary_kernel(params(0, false, {1}, {4}), DTypeId::F64, ia, ib, o)),
            "f64 is not a supported compute dtype (tessary computes in f16/bf16/f32)");
  // A broadcast dimension that is neither 1 nor the output's would walk past
  // the broadcast operand.
  EXPECT_EQ(msg(broadcast_binary_kernel(params(0, false, {2, 3}, {4, 3}), DTypeId::F32, ia, ib, o)),
            "broadcast_binary: broadcast dims must equal the output's or be 1");

  // [4, 4] output (64 bytes of f32) with a [1, 4] broadcast operand.
  const auto p = params(2, false, {1, 4}, {4, 4});
  EXPECT_TRUE(broadcast_binary_kernel(p, DTypeId::F32, {a.cbytes().first(16), 1}, ib, {out.bytes(), 3}));
  Region out2(64, 0);
  EXPECT_EQ(broadcast_binary_kernel(p, DTypeId::F32, {a.cbytes().first(15), 1}, ib, {out2.bytes(), 3}).error(),
            BackendError::buffer_error(1));
  EXPECT_EQ(broadcast_binary_kernel(p, DTypeId::F32, ia, {b.cbytes().first(63), 2}, {out2.bytes(), 3}).error(),
            BackendError::buffer_error(2));
  EXPECT_EQ(broadcast_binary_kernel(p, DTypeId::F32, ia, ib, {out2.bytes().first(60), 3}).error(),
            BackendError::buffer_error(3));
  // Dimensions whose product overflows 64 bits cannot be held by any buffer.
  const auto huge = params(0, false, {1, 1, 1}, {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu});
  EXPECT_EQ(broadcast_binary_kernel(huge, DTypeId::F32, ia, ib, {out2.bytes(), 3}).error(),
            BackendError::buffer_error(2));
  // The broadcast operand overlapping the output is refused, even exactly.
  EXPECT_EQ(broadcast_binary_kernel(p, DTypeId::F32, {out2.cbytes().first(16), 1}, ib, {out2.bytes(), 3}).error(),
            BackendError::buffer_error(1));
  EXPECT_TRUE(out2.untouched());
  // An empty output succeeds without touching anything.
  EXPECT_TRUE(broadcast_binary_kernel(params(0, false, {1, 1}, {3, 0}), DTypeId::F16, {{}, 1}, {{}, 2}, {{}, 3}));
}

}  // namespace
}  // namespace tessary::cpu
