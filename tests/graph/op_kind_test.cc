#include <gtest/gtest.h>

#include <set>
#include <string>

#include "graph/op_kind.h"

namespace tessary {
namespace {

TEST(OpKind, NamesAtFixedDiscriminants) {
  struct Case {
    std::uint16_t value;
    const char* name;
  } cases[] = {{0, "neg"},          {4, "add"},
               {10, "relu"},        {32, "is_nan"},
               {42, "less_or_equal"}, {44, "greater_or_equal"},
               {45, "matmul"},      {48, "conv_transpose_2d"},
               {55, "add_rms_norm"}, {66, "log_softmax"},
               {69, "global_avg_pool"}, {70, "attention"},
               {71, "fused_swiglu"}, {76, "rotary_embedding"},
               {82, "dequantize"},  {83, "kv_cache_write"}};
  for (const auto& c : cases) {
    EXPECT_EQ(op_kind_name(static_cast<OpKind>(c.value)), c.name) << c.value;
    auto back = op_kind_from_name(c.name);
    ASSERT_TRUE(back.has_value()) << c.name;
    EXPECT_EQ(static_cast<std::uint16_t>(*back), c.value);
  }
}

TEST(OpKind, EveryNameIsDistinctAndMapsBack) {
  std::set<std::string> seen;
  for (std::uint16_t i = 0; i < kOpKindCount; ++i) {
    auto name = op_kind_name(static_cast<OpKind>(i));
    ASSERT_FALSE(name.empty()) << i;
    EXPECT_TRUE(seen.insert(std::string(name)).second) << name;
    EXPECT_EQ(op_kind_from_name(name), static_cast<OpKind>(i));
    EXPECT_EQ(op_kind_from_u16(i), static_cast<OpKind>(i));
  }
  EXPECT_EQ(seen.size(), 84u);
  EXPECT_EQ(op_kind_name(static_cast<OpKind>(84)), "");
  EXPECT_FALSE(op_kind_from_u16(84).has_value());
}

TEST(OpKind, LookupIsExactAndCaseSensitive) {
  for (const char* name : {"Relu", "RELU", "relu ", " relu", "rel", "relux", "", "max_pool2d"}) {
    EXPECT_FALSE(op_kind_from_name(name).has_value()) << '"' << name << '"';
  }
}

TEST(OpKind, AttributeGroups) {
  std::set<OpKind> conv = {OpKind::Conv2d,  OpKind::ConvTranspose2d, OpKind::Im2col,
                           OpKind::Col2im,  OpKind::MaxPool2d,       OpKind::AvgPool2d};
  std::set<OpKind> reduce = {OpKind::ReduceSum, OpKind::ReduceMean, OpKind::ReduceProd, OpKind::ReduceMin,
                             OpKind::ReduceMax};
  for (std::uint16_t i = 0; i < kOpKindCount; ++i) {
    auto k = static_cast<OpKind>(i);
    EXPECT_EQ(is_conv_group(k), conv.count(k) == 1) << i;
    EXPECT_EQ(is_reduce_group(k), reduce.count(k) == 1) << i;
  }
}

}  // namespace
}  // namespace tessary
