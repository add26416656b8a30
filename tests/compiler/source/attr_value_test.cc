#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>

#include "compiler/source/attr_value.h"
#include "compiler/source/number_text.h"

namespace tessary {
namespace {

TEST(AttrValue, U32Conversion) {
  struct Case {
    const char* text;
    std::optional<std::uint32_t> want;
  } cases[] = {{"0", 0u},          {"+7", 7u},         {"4294967295", 4294967295u},
               {"000000000000000000042", 42u},          {"4294967296", std::nullopt},
               {"-1", std::nullopt}, {"-0", std::nullopt}, {"+", std::nullopt},
               {"-", std::nullopt}, {"1.0", std::nullopt}, {"1e3", std::nullopt},
               {"", std::nullopt},  {"99999999999999999999999", std::nullopt}};
  for (const auto& c : cases) {
    auto r = AttrValue::number(c.text).u32();
    if (c.want) {
      ASSERT_TRUE(r.has_value()) << c.text;
      EXPECT_EQ(*r, *c.want) << c.text;
    } else {
      ASSERT_FALSE(r.has_value()) << c.text;
      EXPECT_EQ(r.error(), "attr: bad number") << c.text;
    }
  }
}

TEST(AttrValue, I32Conversion) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> want;
  } cases[] = {{"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}, {"+7", 7},
               {"-0", 0},                  {"2147483648", std::nullopt}, {"-2147483649", std::nullopt},
               {"+", std::nullopt},        {"--1", std::nullopt},      {"1.5", std::nullopt}};
  for (const auto& c : cases) {
    auto r = AttrValue::number(c.text).i32();
    if (c.want) {
      ASSERT_TRUE(r.has_value()) << c.text;
      EXPECT_EQ(*r, *c.want) << c.text;
    } else {
      ASSERT_FALSE(r.has_value()) << c.text;
      EXPECT_EQ(r.error(), "attr: bad number") << c.text;
    }
  }
}

TEST(AttrValue, WrongKindMessages) {
  auto b = AttrValue::boolean(true);
  auto l = AttrValue::list({"1"});
  auto n = AttrValue::number("1");
  EXPECT_EQ(b.u32().error(), "attr: expected number");
  EXPECT_EQ(l.i32().error(), "attr: expected number");
  EXPECT_EQ(l.f32().error(), "attr: expected number");
  EXPECT_EQ(b.u8().error(), "attr: expected number");
  EXPECT_EQ(n.u32_list().error(), "attr: expected list");
  EXPECT_EQ(b.u32_list().error(), "attr: expected list");
  EXPECT_EQ(n.as_bool().error(), "attr: expected bool");
  EXPECT_EQ(l.as_bool().error(), "attr: expected bool");
  EXPECT_EQ(b.as_bool(), true);
}

TEST(AttrValue, U32ListStopsAtFirstBadElement) {
  EXPECT_EQ(AttrValue::list({"3"}).u32_list(), (std::vector<std::uint32_t>{3}));
  EXPECT_EQ(AttrValue::list({"1", "+2", "4294967295"}).u32_list(),
            (std::vector<std::uint32_t>{1, 2, 4294967295u}));
  EXPECT_EQ(AttrValue::list({"1", "-2", "x"}).u32_list().error(), "attr: bad number");
}

TEST(AttrValue, U8AndBits) {
  EXPECT_EQ(AttrValue::number("255").u8(), 255);
  EXPECT_EQ(AttrValue::number("+10").u8(), 10);
  EXPECT_EQ(AttrValue::number("256").u8().error(), "attr: bad number");
  EXPECT_EQ(AttrValue::number("-1").u8().error(), "attr: bad number");
  EXPECT_EQ(AttrValue::number("1065353216").u32_bits(), 0x3F800000u);
}

std::uint32_t bits_of(const char* text) {
  auto v = decimal_to_f32(text);
  EXPECT_TRUE(v.has_value()) << text;
  return v ? std::bit_cast<std::uint32_t>(*v) : 0xDEADBEEFu;
}

TEST(DecimalToF32, RoundsToNearest) {
  EXPECT_EQ(bits_of("1"), 0x3F800000u);
  EXPECT_EQ(bits_of("+1."), 0x3F800000u);
  EXPECT_EQ(bits_of(".5"), 0x3F000000u);
  EXPECT_EQ(bits_of("-0.25"), 0xBE800000u);
  EXPECT_EQ(bits_of("-0"), 0x80000000u);
  EXPECT_EQ(bits_of("0.1"), 0x3DCCCCCDu);
  EXPECT_EQ(bits_of("1.5E+2"), 0x43160000u);
  EXPECT_EQ(bits_of("16777217"), 0x4B800000u);            // ties to even
  EXPECT_EQ(bits_of("3.4028235e38"), 0x7F7FFFFFu);        // largest finite
  EXPECT_EQ(bits_of("3.4028236e38"), 0x7F800000u);        // rounds up to infinity
  EXPECT_EQ(bits_of("-1e99999999999999999999"), 0xFF800000u);
  EXPECT_EQ(bits_of("1e-45"), 0x00000001u);               // smallest subnormal
  EXPECT_EQ(bits_of("0.7e-45"), 0x00000000u);             // below half of it
  EXPECT_EQ(bits_of("-1e-99999"), 0x80000000u);
  EXPECT_EQ(bits_of("0e99999999999"), 0x00000000u);
  EXPECT_EQ(bits_of("000000000000000000000000000000000000000000001"), 0x3F800000u);
  EXPECT_EQ(bits_of("0.000000000000000000000000000000000000000000000000001e50"), 0x3DCCCCCDu);  // 0.1
  EXPECT_EQ(bits_of("inf"), 0x7F800000u);
  EXPECT_EQ(bits_of("-Infinity"), 0xFF800000u);
  EXPECT_EQ(bits_of("NaN"), 0x7FC00000u);
}

TEST(DecimalToF32, RefusesEverythingElse) {
  for (const char* text : {"", " 1", "1 ", ".", "+", "-", "e5", "1e", "1e+", ".e1", "1..2", "0x10", "1_0",
                           "nan(1)", "infinit", "--1", "1,5"}) {
    EXPECT_FALSE(decimal_to_f32(text).has_value()) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace tessary
