#include "types/dtype.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace tessary {
namespace {

std::uint32_t bits_of(float f) { return std::bit_cast<std::uint32_t>(f); }
float from_bits(std::uint32_t b) { return std::bit_cast<float>(b); }

// Plain binary16 decoding from the format's definition, independent of the
// bit manipulation under test.
double f16_reference(std::uint16_t h) {
  const int sign = (h >> 15) & 1;
  const int exp = (h >> 10) & 0x1F;
  const int man = h & 0x3FF;
  double v;
  if (exp == 31) {
    v = man == 0 ? std::numeric_limits<double>::infinity()
                 : std::numeric_limits<double>::quiet_NaN();
  } else if (exp == 0) {
    v = std::ldexp(static_cast<double>(man), -24);
  } else {
    v = std::ldexp(static_cast<double>(1024 + man), exp - 25);
  }
  return sign ? -v : v;
}

TEST(F16, DecodesEveryPatternExactlyAndReencodesIt) {
  for (std::uint32_t p = 0; p < 65536; ++p) {
    const auto h = static_cast<std::uint16_t>(p);
    const float got = f16_bits_to_f32(h);
    const double want = f16_reference(h);
    if (std::isnan(want)) {
      // NaN keeps sign and payload on widening; narrowing gives the quiet NaN.
      ASSERT_EQ(bits_of(got), (static_cast<std::uint32_t>(h & 0x8000) << 16) | 0x7F800000u |
                                  (static_cast<std::uint32_t>(h & 0x3FF) << 13))
          << std::hex << p;
      ASSERT_EQ(f32_to_f16_bits(got), (h & 0x8000) | 0x7E00) << std::hex << p;
    } else {
      ASSERT_EQ(bits_of(got), bits_of(static_cast<float>(want))) << std::hex << p;
      ASSERT_EQ(f32_to_f16_bits(got), h) << std::hex << p;
    }
  }
}

// Every tie between two adjacent finite binary16 values (subnormal, normal and
// the overflow threshold above 65504) rounds away from zero; one binary32 ulp
// either side of it rounds to the nearer neighbour.
TEST(F16, EveryHalfwayPointRoundsAwayFromZero) {
  for (std::uint16_t h = 0; h < 0x7C00; ++h) {
    const double lo = f16_reference(h);
    const double hi = h == 0x7BFF ? 65536.0 : f16_reference(static_cast<std::uint16_t>(h + 1));
    const float mid = static_cast<float>((lo + hi) / 2);
    ASSERT_EQ(static_cast<double>(mid), (lo + hi) / 2) << "midpoint not exact at " << h;
    const auto up = static_cast<std::uint16_t>(h + 1);  // 0x7C00 after 0x7BFF: infinity
    const float below = std::nextafter(mid, 0.0f);
    const float above = std::nextafter(mid, 1e30f);
    for (std::uint16_t sign : {std::uint16_t{0}, std::uint16_t{0x8000}}) {
      const float s = sign ? -1.0f : 1.0f;
      ASSERT_EQ(f32_to_f16_bits(s * mid), sign | up) << std::hex << h;
      ASSERT_EQ(f32_to_f16_bits(s * below), sign | h) << std::hex << h;
      ASSERT_EQ(f32_to_f16_bits(s * above), sign | up) << std::hex << h;
    }
  }
}

TEST(F16, NarrowingEdgeCases) {
  struct Case {
    std::uint32_t f32_bits;
    std::uint16_t f16;
  };
  const Case cases[] = {
      {bits_of(65504.0f), 0x7BFF},
      {bits_of(65520.0f), 0x7C00},
      {bits_of(1e10f), 0x7C00},
      {bits_of(-1e10f), 0xFC00},
      {bits_of(std::ldexp(1.0f, -25)), 0x0001},
      {bits_of(std::ldexp(1.0f, -26)), 0x0000},
      {bits_of(-std::ldexp(1.0f, -26)), 0x8000},
      {bits_of(-0.0f), 0x8000},
      {bits_of(0.0f), 0x0000},
      {bits_of(1.0f), 0x3C00},
      {bits_of(1.00048828125f), 0x3C01},
      {bits_of(-1.00048828125f), 0xBC01},
      {bits_of(1.99951171875f), 0x4000},                    // carry into the exponent
      {bits_of(std::ldexp(2047.0f, -25)), 0x0400},          // top subnormal tie -> smallest normal
      {bits_of(std::nextafter(std::ldexp(1.0f, -14), 0.0f)), 0x0400},
      {bits_of(std::ldexp(1.0f, -14)), 0x0400},
      {0x7F800000u, 0x7C00},                                 // +inf
      {0xFF800000u, 0xFC00},                                 // -inf
      {0x7FC00000u, 0x7E00},                                 // quiet NaN
      {0x7F800001u, 0x7E00},                                 // signalling NaN, low payload
      {0x7FFFFFFFu, 0x7E00},
      {0xFFC12345u, 0xFE00},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(f32_to_f16_bits(from_bits(c.f32_bits)), c.f16) << std::hex << c.f32_bits;
  }
}

TEST(BF16, TruncatesAndWidensExactly) {
  EXPECT_EQ(f32_to_bf16_bits(from_bits(0x3FFFFFFFu)), 0x3FFF);
  EXPECT_EQ(bf16_bits_to_f32(0x3FFF), 1.9921875f);
  EXPECT_EQ(f32_to_bf16_bits(from_bits(0xBFFFFFFFu)), 0xBFFF);
  EXPECT_EQ(f32_to_bf16_bits(from_bits(0x7F800001u)), 0x7F80);  // payload lost: infinity
  EXPECT_EQ(f32_to_bf16_bits(from_bits(0x7FC00000u)), 0x7FC0);
  EXPECT_EQ(f32_to_bf16_bits(-0.0f), 0x8000);
  for (std::uint32_t p = 0; p < 65536; ++p) {
    const float f = bf16_bits_to_f32(static_cast<std::uint16_t>(p));
    ASSERT_EQ(bits_of(f), p << 16);
    ASSERT_EQ(f32_to_bf16_bits(f), p);
  }
}

TEST(ElementAccess, FloatFormatsAreLittleEndianAtAnyOffset) {
  // Base offset 1 keeps every element misaligned.
  std::vector<std::uint8_t> buf(1 + 4 * 4, 0xAA);
  std::uint8_t* p = buf.data() + 1;

  write_float(p, 2, DTypeId::F16, 1.00048828125f);
  EXPECT_EQ(p[4], 0x01);
  EXPECT_EQ(p[5], 0x3C);
  EXPECT_EQ(read_float(p, 2, DTypeId::F16), 1.0009765625f);  // rounded away on write

  write_float(p, 1, DTypeId::BF16, from_bits(0x3FFFFFFFu));
  EXPECT_EQ(p[2], 0xFF);
  EXPECT_EQ(p[3], 0x3F);
  EXPECT_EQ(read_float(p, 1, DTypeId::BF16), 1.9921875f);

  write_float(p, 3, DTypeId::F32, -2.5f);
  std::uint32_t raw;
  std::memcpy(&raw, p + 12, 4);
  EXPECT_EQ(raw, bits_of(-2.5f));
  EXPECT_EQ(read_float(std::span<const std::uint8_t>(p, 16), 3, DTypeId::F32), -2.5f);
  EXPECT_EQ(buf[0], 0xAA);  // nothing before the buffer was touched

  // Tags that are not 16/32-bit floats read 0 and write nothing.
  std::vector<std::uint8_t> before = buf;
  write_float(p, 0, DTypeId::I32, 7.0f);
  write_float(p, 0, DTypeId::F64, 7.0f);
  EXPECT_EQ(buf, before);
  EXPECT_EQ(read_float(p, 0, DTypeId::I32), 0.0f);
}

TEST(ElementAccess, LoadAndStoreFloatGoThroughBinary64) {
  std::uint8_t buf[16] = {};
  const double tenth = 0.1;
  std::memcpy(buf + 8, &tenth, 8);
  EXPECT_EQ(load_float(buf, 1, DTypeId::F64), 0.1);  // exact, not via binary32
  const std::int32_t five = 5;
  std::memcpy(buf, &five, 4);
  EXPECT_EQ(load_float(buf, 0, DTypeId::I32), 0.0);
  EXPECT_EQ(load_float(buf, 0, DTypeId::I4), 0.0);

  // binary64 -> binary32 rounds to nearest even before the 16-bit rule: this
  // value lies just below an f16 tie, but as binary32 it is the tie itself.
  store_float(buf, 0, DTypeId::F16, 1.0 + std::ldexp(1.0, -11) - std::ldexp(1.0, -40));
  EXPECT_EQ(buf[0] | (buf[1] << 8), 0x3C01);
  store_float(buf, 0, DTypeId::F32, 1.0 + std::ldexp(1.0, -24));  // tie -> even (1.0)
  EXPECT_EQ(read_float(buf, 0, DTypeId::F32), 1.0f);
  store_float(buf, 0, DTypeId::F32, 1.0 + 3 * std::ldexp(1.0, -24));  // tie -> even (up)
  EXPECT_EQ(read_float(buf, 0, DTypeId::F32), 1.0f + std::ldexp(1.0f, -22));
  store_float(buf, 0, DTypeId::F32, 1e300);
  EXPECT_EQ(read_float(buf, 0, DTypeId::F32), std::numeric_limits<float>::infinity());

  // f64 elements receive the binary64 value itself.
  store_float(buf, 1, DTypeId::F64, 0.3);
  EXPECT_EQ(load_float(buf, 1, DTypeId::F64), 0.3);

  std::uint8_t ints[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  store_float(ints, 0, DTypeId::I32, 9.0);
  store_float(ints, 0, DTypeId::U8, 9.0);
  const std::uint8_t untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(std::memcmp(ints, untouched, 8), 0);
}

TEST(ElementAccess, LoadIntWidensByTag) {
  const std::uint8_t ff[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  const std::uint8_t big[8] = {0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
  struct Case {
    const std::uint8_t* bytes;
    DTypeId tag;
    std::int64_t want;
  };
  const Case cases[] = {
      {ff, DTypeId::Bool, 255},  {ff, DTypeId::U8, 255},  {ff, DTypeId::I8, -1},
      {ff, DTypeId::I32, -1},    {ff, DTypeId::I64, -1},  {ff, DTypeId::U64, -1},
      {big, DTypeId::I32, -2147483647}, {big, DTypeId::I64, 2147483649},
      {ff, DTypeId::F16, 0},     {ff, DTypeId::F32, 0},   {ff, DTypeId::F64, 0},
      {ff, DTypeId::I4, 0},      {ff, DTypeId::E8cb, 0},  {ff, static_cast<DTypeId>(200), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(load_int(c.bytes, 0, c.tag), c.want) << dtype_name(c.tag);
  }
  const std::uint8_t row[4] = {0x00, 0x80, 0x7F, 0x01};
  EXPECT_EQ(load_int(row, 1, DTypeId::I8), -128);
  EXPECT_EQ(load_int(row, 2, DTypeId::U8), 127);
}

TEST(ElementAccess, StoreIntNarrowsByTag) {
  struct Case {
    DTypeId tag;
    std::int64_t value;
    std::vector<std::uint8_t> want;  // the whole 8-byte buffer afterwards
  };
  const std::vector<std::uint8_t> fill(8, 0xCC);
  const Case cases[] = {
      {DTypeId::U8, 256, {0x00, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {DTypeId::U8, -1, {0xFF, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {DTypeId::I8, 300, {0x2C, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {DTypeId::Bool, 2, {0x01, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {DTypeId::Bool, 0x100, {0x01, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {DTypeId::Bool, 0, {0x00, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
      {DTypeId::I32, (std::int64_t{1} << 32) + 5, {0x05, 0x00, 0x00, 0x00, 0xCC, 0xCC, 0xCC, 0xCC}},
      {DTypeId::I64, -2, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {DTypeId::U64, 0x0102030405060708, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
      {DTypeId::F32, 1, fill},
      {DTypeId::F64, 1, fill},
      {DTypeId::I4, 1, fill},
      {static_cast<DTypeId>(12), 1, fill},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> buf = fill;
    store_int(buf.data(), 0, c.tag, c.value);
    EXPECT_EQ(buf, c.want) << dtype_name(c.tag) << " " << c.value;
  }
}

TEST(Cast, FloatToIntTruncatesAndSaturates) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(cast_float_to_int(-1.5), -1);
  EXPECT_EQ(cast_float_to_int(2.999), 2);
  EXPECT_EQ(cast_float_to_int(-0.0), 0);
  EXPECT_EQ(cast_float_to_int(nan), 0);
  EXPECT_EQ(cast_float_to_int(1e30), INT64_MAX);
  EXPECT_EQ(cast_float_to_int(9223372036854775808.0), INT64_MAX);
  EXPECT_EQ(cast_float_to_int(-9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(cast_float_to_int(-1e30), INT64_MIN);
  EXPECT_EQ(cast_float_to_int(-std::numeric_limits<double>::infinity()), INT64_MIN);

  EXPECT_EQ(cast_float_to_u64(nan), 0u);
  EXPECT_EQ(cast_float_to_u64(-5.0), 0u);
  EXPECT_EQ(cast_float_to_u64(9223372036854775808.0), 9223372036854775808u);
  EXPECT_EQ(cast_float_to_u64(18446744073709551616.0), UINT64_MAX);
  EXPECT_EQ(cast_float_to_u64(7.9), 7u);
}

TEST(Cast, ElementConversionsBetweenTags) {
  auto cast_one = [](auto src_value, DTypeId from, DTypeId to) {
    std::uint8_t src[8] = {};
    std::memcpy(src, &src_value, sizeof(src_value));
    std::uint8_t dst[8] = {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC};
    cast_element(src, from, dst, to, 0);
    std::uint64_t out;
    std::memcpy(&out, dst, 8);
    return out;
  };
  const std::uint64_t pad8 = 0xCCCCCCCCCCCCCC00u;   // untouched bytes above a 1-byte result
  const std::uint64_t pad32 = 0xCCCCCCCC00000000u;  // above a 4-byte result
  const std::uint64_t pad16 = 0xCCCCCCCCCCCC0000u;
  const float nanf = std::numeric_limits<float>::quiet_NaN();

  EXPECT_EQ(cast_one(1e30f, DTypeId::F32, DTypeId::I32), pad32 | 0xFFFFFFFFu);  // low bits of 2^63-1
  EXPECT_EQ(cast_one(-1.5f, DTypeId::F32, DTypeId::I32), pad32 | 0xFFFFFFFFu);
  EXPECT_EQ(cast_one(nanf, DTypeId::F32, DTypeId::I32), pad32);
  EXPECT_EQ(cast_one(-2.7f, DTypeId::F32, DTypeId::I8), pad8 | 0xFE);
  EXPECT_EQ(cast_one(300.0f, DTypeId::F32, DTypeId::U8), pad8 | 44);
  EXPECT_EQ(cast_one(0.5f, DTypeId::F32, DTypeId::Bool), pad8 | 0);
  EXPECT_EQ(cast_one(-2.0f, DTypeId::F32, DTypeId::Bool), pad8 | 1);
  EXPECT_EQ(cast_one(std::uint16_t{0xC700}, DTypeId::F16, DTypeId::I64),
            static_cast<std::uint64_t>(-7));
  EXPECT_EQ(cast_one(std::int32_t{-7}, DTypeId::I32, DTypeId::F16), pad16 | 0xC700);
  EXPECT_EQ(cast_one(std::uint8_t{200}, DTypeId::U8, DTypeId::I8), pad8 | 0xC8);
  EXPECT_EQ(cast_one(std::int8_t{-1}, DTypeId::I8, DTypeId::I64), UINT64_MAX);
  EXPECT_EQ(cast_one(std::int64_t{-1}, DTypeId::I64, DTypeId::U8), pad8 | 0xFF);
  EXPECT_EQ(cast_one(std::int64_t{-1}, DTypeId::I64, DTypeId::U64), UINT64_MAX);
  // bf16 truncation applies to integers converted to bf16 as well.
  EXPECT_EQ(cast_one(std::int32_t{257}, DTypeId::I32, DTypeId::BF16), pad16 | 0x4380);

  // u64 is unsigned when it meets a float; f64 destinations receive binary64.
  EXPECT_EQ(cast_one(UINT64_MAX, DTypeId::U64, DTypeId::F32),
            pad32 | bits_of(18446744073709551616.0f));
  EXPECT_EQ(cast_one(-1.0f, DTypeId::F32, DTypeId::U64), 0u);
  EXPECT_EQ(cast_one(1e20f, DTypeId::F32, DTypeId::U64), UINT64_MAX);
  EXPECT_EQ(cast_one(9223372036854775808.0f, DTypeId::F32, DTypeId::U64), 9223372036854775808u);
  EXPECT_EQ(cast_one(0.1f, DTypeId::F32, DTypeId::F64),
            std::bit_cast<std::uint64_t>(static_cast<double>(0.1f)));
  EXPECT_EQ(cast_one(std::int32_t{-3}, DTypeId::I32, DTypeId::F64),
            std::bit_cast<std::uint64_t>(-3.0));
  EXPECT_EQ(cast_one(0.1, DTypeId::F64, DTypeId::F32), pad32 | bits_of(0.1f));
  EXPECT_EQ(cast_one(1e300, DTypeId::F64, DTypeId::I8), pad8 | 0xFF);  // 2^63-1, low byte

  // Sub-byte or unknown tags on either side write nothing.
  EXPECT_EQ(cast_one(1.0f, DTypeId::F32, DTypeId::I4), 0xCCCCCCCCCCCCCCCCu);
  EXPECT_EQ(cast_one(std::uint8_t{1}, DTypeId::E8cb, DTypeId::F32), 0xCCCCCCCCCCCCCCCCu);
}

TEST(DTypeTable, WidthsNamesAndClasses) {
  struct Row {
    DTypeId tag;
    std::optional<std::uint32_t> width;
    const char* name;
    bool compute;
  };
  const Row rows[] = {
      {DTypeId::Bool, 1, "bool", false}, {DTypeId::U8, 1, "u8", false},
      {DTypeId::I8, 1, "i8", false},     {DTypeId::U64, 8, "u64", false},
      {DTypeId::I32, 4, "i32", false},   {DTypeId::I64, 8, "i64", false},
      {DTypeId::F16, 2, "f16", true},    {DTypeId::BF16, 2, "bf16", true},
      {DTypeId::F32, 4, "f32", true},    {DTypeId::F64, 8, "f64", false},
      {DTypeId::I4, std::nullopt, "i4", false},
      {DTypeId::E8cb, std::nullopt, "e8cb", false},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    const Row& r = rows[i];
    EXPECT_EQ(static_cast<std::size_t>(dtype_tag(r.tag)), i);
    EXPECT_TRUE(is_known(r.tag));
    EXPECT_EQ(element_width(r.tag), r.width) << r.name;
    EXPECT_EQ(dtype_name(r.tag), r.name);
    EXPECT_EQ(dtype_from_name(r.name), r.tag);
    EXPECT_EQ(dtype_from_tag(static_cast<std::uint8_t>(i)), r.tag);
    EXPECT_EQ(is_compute_type(r.tag), r.compute) << r.name;
  }
  for (unsigned t : {12u, 13u, 200u, 255u}) {
    const auto tag = static_cast<DTypeId>(t);
    EXPECT_FALSE(is_known(tag));
    EXPECT_EQ(element_width(tag), std::nullopt);
    EXPECT_EQ(dtype_name(tag), "unknown");
    EXPECT_EQ(dtype_from_tag(static_cast<std::uint8_t>(t)), std::nullopt);
  }
  EXPECT_EQ(dtype_from_name("unknown"), std::nullopt);
  EXPECT_EQ(dtype_from_name("F32"), std::nullopt);
  EXPECT_TRUE(is_index_type(DTypeId::I32));
  EXPECT_FALSE(is_index_type(DTypeId::U64));
  EXPECT_TRUE(is_quantized_weight_type(DTypeId::E8cb));
  EXPECT_FALSE(is_quantized_weight_type(DTypeId::Bool));
}

TEST(DTypeTable, StorageBytes) {
  for (unsigned t = 0; t < kDTypeCount; ++t) {
    EXPECT_EQ(storage_bytes_u64(static_cast<DTypeId>(t), 0), 0u) << t;
  }
  struct Case {
    DTypeId tag;
    std::uint64_t n;
    std::optional<std::uint64_t> want;
  };
  const Case cases[] = {
      {DTypeId::I4, 1, 1},
      {DTypeId::I4, 4, 2},
      {DTypeId::I4, 5, 3},
      {DTypeId::I4, UINT64_MAX, std::uint64_t{1} << 63},
      {DTypeId::E8cb, 8, 1},
      {DTypeId::E8cb, 9, 2},
      {DTypeId::E8cb, UINT64_MAX, std::uint64_t{1} << 61},
      {DTypeId::F32, 3, 12},
      {DTypeId::F32, (std::uint64_t{1} << 62) - 1, UINT64_MAX - 3},
      {DTypeId::F32, std::uint64_t{1} << 62, UINT64_MAX},
      {DTypeId::U64, std::uint64_t{1} << 61, UINT64_MAX},
      {DTypeId::Bool, UINT64_MAX, UINT64_MAX},
      {DTypeId::BF16, 7, 14},
      {static_cast<DTypeId>(12), 5, std::nullopt},
      {static_cast<DTypeId>(12), 0, std::nullopt},
      {static_cast<DTypeId>(255), 1, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(storage_bytes_u64(c.tag, c.n), c.want) << dtype_name(c.tag) << " " << c.n;
  }
}

}  // namespace
}  // namespace tessary

namespace tessary {
namespace {

// Writing then reading a 16-bit float through a local buffer, with the type
// known only at run time, must give the narrowed value (g++ 12's jump
// threading returned the unconverted input here unless switched off).
float round_trip(DTypeId t, float x) {
  std::uint8_t buf[4];
  write_float(buf, 0, t, x);
  return read_float(buf, 0, t);
}

TEST(ElementAccess, RuntimeTypedRoundTripNarrows) {
  const std::vector<float> values = {0.0f, 0.49999997f, 1.0f};
  std::vector<float> got;
  for (DTypeId t : {DTypeId::F16, DTypeId::BF16}) {
    for (float v : values) got.push_back(round_trip(t, v));
  }
  const std::vector<float> want = {0.0f, 0.5f, 1.0f, 0.0f, 0.498046875f, 1.0f};
  EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace tessary
