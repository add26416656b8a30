#include "compute/quant_tier.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "compute/packed_b.h"

namespace tessary {
namespace {

static_assert(static_cast<int>(WeightLayout::ROW_MAJOR) == 0);
static_assert(static_cast<int>(WeightLayout::OUTPUT_MAJOR) == 1);

TEST(QuantTier, RecordsOfTheFourTypes) {
  struct Row {
    DTypeId tag;
    std::uint32_t elems_per_code, bits_per_elem;
    bool vq, scalar, omajor;
  };
  const Row rows[] = {
      {DTypeId::U8, 1, 8, false, true, false},
      {DTypeId::I8, 1, 8, false, true, true},
      {DTypeId::I4, 1, 4, false, true, true},
      {DTypeId::E8cb, 8, 1, true, false, true},
  };
  for (const Row& r : rows) {
    const QuantTier* t = quant_tier(r.tag);
    ASSERT_NE(t, nullptr) << dtype_name(r.tag);
    EXPECT_EQ(t->dtype, r.tag);
    EXPECT_EQ(t->elems_per_code, r.elems_per_code);
    EXPECT_EQ(t->bits_per_elem, r.bits_per_elem);
    EXPECT_EQ(t->vector_quantized, r.vq);
    EXPECT_EQ(t->scalar_decodable, r.scalar);
    EXPECT_EQ(t->omajor_gemv, r.omajor);
  }
  for (unsigned tag : {0u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 12u, 255u}) {
    EXPECT_EQ(quant_tier(static_cast<DTypeId>(tag)), nullptr) << tag;
  }
}

TEST(QuantTier, ExactI32BoundIsTheLargestSafeK) {
  EXPECT_LE(kExactI32MaxK * 127 * 127, std::uint64_t{INT32_MAX});
  EXPECT_GT((kExactI32MaxK + 1) * 127 * 127, std::uint64_t{INT32_MAX});
}

TEST(QuantTier, WeightBytes) {
  const QuantTier& u8 = *quant_tier(DTypeId::U8);
  const QuantTier& i8 = *quant_tier(DTypeId::I8);
  const QuantTier& i4 = *quant_tier(DTypeId::I4);
  const QuantTier& e8 = *quant_tier(DTypeId::E8cb);
  EXPECT_EQ(i4.weight_bytes(3, 3), 5u);
  EXPECT_EQ(e8.weight_bytes(16, 2), 4u);
  EXPECT_EQ(e8.weight_bytes(3, 3), 2u);
  EXPECT_EQ(i8.weight_bytes(2, 3), 6u);
  EXPECT_EQ(u8.weight_bytes(0, UINT64_MAX), 0u);
  // Products past 64 bits: i4 and e8cb byte counts are taken from the exact
  // element count, fixed-width ones saturate.
  EXPECT_EQ(u8.weight_bytes(std::uint64_t{1} << 40, std::uint64_t{1} << 40), UINT64_MAX);
  EXPECT_EQ(i4.weight_bytes(std::uint64_t{1} << 32, std::uint64_t{1} << 32),
            std::uint64_t{1} << 63);
  EXPECT_EQ(e8.weight_bytes(std::uint64_t{1} << 33, std::uint64_t{1} << 32),
            std::uint64_t{1} << 62);
  EXPECT_EQ(e8.weight_bytes(std::uint64_t{1} << 34, std::uint64_t{1} << 33), UINT64_MAX);
}

TEST(QuantTier, OutputMajorK) {
  struct Case {
    DTypeId tag;
    std::uint64_t k;
    bool ok;
  };
  const Case cases[] = {
      {DTypeId::I4, 3, false}, {DTypeId::I4, 1, false},  {DTypeId::I4, 4, true},
      {DTypeId::I4, 0, true},  {DTypeId::E8cb, 12, false}, {DTypeId::E8cb, 4, false},
      {DTypeId::E8cb, 16, true}, {DTypeId::I8, 3, true},  {DTypeId::U8, 7, true},
      {DTypeId::I4, UINT64_MAX, false}, {DTypeId::I4, UINT64_MAX - 1, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(quant_tier(c.tag)->omajor_k_ok(c.k), c.ok) << dtype_name(c.tag) << " k=" << c.k;
  }
  // The free form takes the group and bit width directly.
  EXPECT_FALSE(omajor_k_ok(8, 1, 12));
  EXPECT_TRUE(omajor_k_ok(8, 1, 24));
  EXPECT_FALSE(omajor_k_ok(1, 2, 2));  // 4 bits: not whole bytes
  EXPECT_TRUE(omajor_k_ok(1, 2, 4));
  EXPECT_FALSE(omajor_k_ok(0, 8, 4));
}

TEST(QuantTier, RepackByteCodes) {
  const QuantTier& i8 = *quant_tier(DTypeId::I8);
  const std::vector<std::uint8_t> w = {1, 2, 3, 4, 5, 6};  // [2, 3]
  EXPECT_EQ(i8.omajor_repack(w, 2, 3), (std::vector<std::uint8_t>{1, 4, 2, 5, 3, 6}));
  EXPECT_EQ(quant_tier(DTypeId::U8)->omajor_repack(w, 3, 2),
            (std::vector<std::uint8_t>{1, 3, 5, 2, 4, 6}));
  const std::vector<std::uint8_t> short_w(w.begin(), w.end() - 1);
  EXPECT_EQ(i8.omajor_repack(short_w, 2, 3), std::nullopt);
  std::vector<std::uint8_t> long_w = w;
  long_w.push_back(7);
  EXPECT_EQ(i8.omajor_repack(long_w, 2, 3), std::nullopt);
  EXPECT_EQ(i8.omajor_repack({}, 0, UINT64_MAX), std::vector<std::uint8_t>{});

  // e8cb ROW_MAJOR holds k/8 code rows of n bytes; the output holds each
  // column's k/8 codes together.
  const QuantTier& e8 = *quant_tier(DTypeId::E8cb);
  const std::vector<std::uint8_t> codes = {10, 11, 12, 20, 21, 22};  // k = 16, n = 3
  EXPECT_EQ(e8.omajor_repack(codes, 16, 3),
            (std::vector<std::uint8_t>{10, 20, 11, 21, 12, 22}));
  EXPECT_EQ(e8.omajor_repack(std::vector<std::uint8_t>(3), 12, 2), std::nullopt);
}

TEST(QuantTier, RepackI4NibbleByNibble) {
  const QuantTier& i4 = *quant_tier(DTypeId::I4);
  std::mt19937 rng(7);
  for (auto [k, n] : {std::pair<std::uint64_t, std::uint64_t>{6, 5}, {2, 1}, {4, 7}, {10, 3}}) {
    std::vector<std::uint8_t> w(k * n / 2);
    for (auto& b : w) b = static_cast<std::uint8_t>(rng());
    // Plain reference: unpack to one signed value per element, then read each
    // output nibble back and compare with element (r, c).
    std::vector<int> elem(k * n);
    for (std::uint64_t i = 0; i < k * n; ++i) {
      int v = (i % 2 == 0) ? (w[i / 2] & 0xF) : (w[i / 2] >> 4);
      elem[i] = v >= 8 ? v - 16 : v;
    }
    const auto out = i4.omajor_repack(w, k, n);
    ASSERT_TRUE(out.has_value());
    ASSERT_EQ(out->size(), w.size());
    for (std::uint64_t c = 0; c < n; ++c) {
      for (std::uint64_t r = 0; r < k; ++r) {
        const std::uint64_t pos = c * k + r;
        int v = (pos % 2 == 0) ? ((*out)[pos / 2] & 0xF) : ((*out)[pos / 2] >> 4);
        v = v >= 8 ? v - 16 : v;
        ASSERT_EQ(v, elem[r * n + c]) << "k=" << k << " n=" << n << " r=" << r << " c=" << c;
      }
    }
  }
  EXPECT_EQ(i4.omajor_repack(std::vector<std::uint8_t>(5), 3, 3), std::nullopt);  // odd k
  EXPECT_EQ(i4.omajor_repack(std::vector<std::uint8_t>(2), 2, 3), std::nullopt);  // one short
}

TEST(PackedB, PanelsOfSixteenColumnsWithZeroPadding) {
  struct Case {
    std::uint64_t k, n;
    std::size_t elem;
  };
  for (const Case& c : {Case{2, 17, 4}, Case{3, 33, 2}, Case{1, 16, 4}, Case{4, 5, 1}}) {
    std::vector<std::uint8_t> b(c.k * c.n * c.elem);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(1 + i % 251);
    const auto packed = pack_b_panels_bytes(b, c.k, c.n, c.elem);
    ASSERT_TRUE(packed.has_value());
    const std::uint64_t panels = (c.n + 15) / 16;
    ASSERT_EQ(packed->size(), panels * 16 * c.k * c.elem);
    std::vector<bool> filled(packed->size() / c.elem, false);
    for (std::uint64_t r = 0; r < c.k; ++r) {
      for (std::uint64_t j = 0; j < c.n; ++j) {
        const std::uint64_t at = ((j / 16) * c.k + r) * 16 + (j % 16);
        EXPECT_EQ(packed_b_index(r, j, c.k), at);
        filled[at] = true;
        for (std::size_t e = 0; e < c.elem; ++e) {
          ASSERT_EQ((*packed)[at * c.elem + e], b[(r * c.n + j) * c.elem + e]);
        }
      }
    }
    for (std::size_t i = 0; i < filled.size(); ++i) {
      if (filled[i]) continue;
      for (std::size_t e = 0; e < c.elem; ++e) ASSERT_EQ((*packed)[i * c.elem + e], 0) << i;
    }
  }
  EXPECT_EQ(pack_b_panels_bytes(std::vector<std::uint8_t>(2 * 17 * 4), 2, 17, 4)->size(), 256u);
  EXPECT_EQ(packed_b_elems(2, 17), 64u);
}

TEST(PackedB, RejectsMismatchedSizes) {
  EXPECT_EQ(pack_b_panels_bytes(std::vector<std::uint8_t>(2 * 17 * 4 - 1), 2, 17, 4),
            std::nullopt);
  EXPECT_EQ(pack_b_panels_bytes(std::vector<std::uint8_t>(2 * 17 * 4 + 4), 2, 17, 4),
            std::nullopt);
  EXPECT_EQ(pack_b_panels_bytes({}, std::uint64_t{1} << 40, std::uint64_t{1} << 40, 4),
            std::nullopt);
  EXPECT_EQ(pack_b_panels_bytes({}, 0, UINT64_MAX, 4), std::vector<std::uint8_t>{});
  EXPECT_EQ(packed_b_elems(UINT64_MAX, 17), std::nullopt);
}

}  // namespace
}  // namespace tessary
