#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "compiler/source/source_program.h"

namespace tessary {
namespace {

TEST(SourceProgram, InterningIsDenseAndByteExact) {
  SourceProgram p;
  EXPECT_EQ(p.intern("a"), 0u);
  EXPECT_EQ(p.intern("b"), 1u);
  EXPECT_EQ(p.intern("a"), 0u);
  EXPECT_EQ(p.intern("A"), 2u);
  EXPECT_EQ(p.intern(std::string_view("a\0b", 3)), 3u);
  EXPECT_EQ(p.intern(""), 4u);
  EXPECT_EQ(p.intern(std::string_view("a\0b", 3)), 3u);
  ASSERT_EQ(p.names().size(), 5u);
  EXPECT_EQ(p.names()[3], std::string("a\0b", 3));
  EXPECT_EQ(p.lookup("b"), 1u);
  EXPECT_FALSE(p.lookup("c").has_value());
}

TEST(SourceShape, HoldsAtMostEightDimensions) {
  std::vector<std::uint64_t> eight(8, 2), nine(9, 1);
  auto s = SourceShape::from_dims(eight);
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->rank, 8);
  EXPECT_EQ(s->total_elements(), 256u);
  EXPECT_FALSE(SourceShape::from_dims(nine).has_value());
  auto empty = SourceShape::from_dims({});
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->descriptor().rank, 0);
}

TEST(SourceBinding, CopiesOwnTheirCall) {
  OpCall call;
  call.kind = OpKind::Add;
  call.inputs = {1, 2};
  SourceBinding a = SourceBinding::op(true, 3, call);
  SourceBinding b = a;
  b.op_call()->inputs.push_back(9);
  EXPECT_EQ(a.op_call()->inputs.size(), 2u);
  EXPECT_EQ(b.op_call()->inputs.size(), 3u);
  EXPECT_EQ(a.result_name(), 3u);
  EXPECT_FALSE(SourceBinding::op(false, 3, call).result_name().has_value());
  EXPECT_EQ(SourceBinding{}.op_call(), nullptr);
  EXPECT_FALSE(a == b);
  b = a;
  EXPECT_TRUE(a == b);
}

TEST(OpCall, RecordsStartAbsent) {
  OpCall c;
  EXPECT_FALSE(c.quant || c.conv || c.lrn || c.gemm || c.norm || c.gather);
  EXPECT_EQ(c.reduce.keepdims, kAttrAbsent);
  EXPECT_EQ(c.attention.causal, kAttrAbsent);
}

}  // namespace
}  // namespace tessary
