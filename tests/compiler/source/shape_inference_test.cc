#include <gtest/gtest.h>

#include <vector>

#include "compiler/source/frontends/frontend_registry.h"
#include "compiler/source/lowering.h"
#include "compiler/source/shape_inference.h"

namespace tessary {
namespace {

ShapeDescriptor dims(std::initializer_list<std::uint64_t> d) {
  ShapeDescriptor s;
  for (std::uint64_t v : d) s.dims[s.rank++] = v;
  return s;
}

std::optional<ShapeDescriptor> infer(OpKind k, std::vector<ShapeDescriptor> ops, ReduceAttrs r = {0, 2}) {
  std::vector<const ShapeDescriptor*> ptrs;
  for (const auto& s : ops) ptrs.push_back(&s);
  return infer_result_shape(k, ptrs, r);
}

TEST(ShapeInference, RulesByOpFamily) {
  EXPECT_EQ(infer(OpKind::Relu, {dims({2, 3})}), dims({2, 3}));
  EXPECT_EQ(infer(OpKind::Softmax, {dims({4, 5})}), dims({4, 5}));
  EXPECT_EQ(infer(OpKind::LayerNorm, {dims({4, 5}), dims({5}), dims({5})}), dims({4, 5}));
  EXPECT_EQ(infer(OpKind::Add, {dims({2, 3}), dims({2, 3})}), dims({2, 3}));
  EXPECT_FALSE(infer(OpKind::Sub, {dims({3}), dims({2, 1})}));  // no broadcasting in element-wise calls
  EXPECT_FALSE(infer(OpKind::Mul, {dims({2, 3}), dims({4})}));
  EXPECT_EQ(infer(OpKind::Matmul, {dims({1, 4}), dims({4, 2})}), dims({1, 2}));
  EXPECT_EQ(infer(OpKind::Matmul, {dims({5, 3, 4}), dims({4, 7})}), dims({5, 3, 7}));
  EXPECT_FALSE(infer(OpKind::Matmul, {dims({1, 4}), dims({3, 2})}));  // inner dims differ
  EXPECT_EQ(infer(OpKind::ReduceSum, {dims({2, 3, 4})}, {0b010, 1}), dims({2, 1, 4}));
  EXPECT_EQ(infer(OpKind::ReduceMax, {dims({2, 3, 4})}, {0b101, 0}), dims({3}));
  EXPECT_EQ(infer(OpKind::ReduceMean, {dims({2, 3})}, {0, 2}), ShapeDescriptor{});  // mask 0: all axes, a scalar
  EXPECT_EQ(infer(OpKind::ReduceSum, {dims({2, 3})}, {0, 1}), dims({1, 1}));
  // Ops whose result the operands do not fix need a declared shape.
  EXPECT_FALSE(infer(OpKind::Reshape, {dims({2, 3})}));
  EXPECT_FALSE(infer(OpKind::Transpose, {dims({2, 3})}));
  EXPECT_FALSE(infer(OpKind::Relu, {}));
}

TEST(ShapeInference, UndeclaredResultsGetTheirOwnShapes) {
  auto program = parse_ir_diagnostic(
      "input x: f32[2, 4]\n"
      "const w: f32[4, 3] = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]\n"
      "let h = matmul(x, w)\n"
      "let r = relu(h)\n"
      "let s = reduce_sum(r, axes=[1])\n"
      "output s\n",
      0);
  ASSERT_TRUE(program.has_value());
  auto g = lower_ir(*program);
  ASSERT_TRUE(g.has_value());
  const auto& n = g->nodes;
  EXPECT_EQ(*g->shapes.get(n[1].shape), dims({2, 3}));
  EXPECT_EQ(n[2].shape, n[1].shape);  // same as its operand: the identifier is reused
  EXPECT_EQ(*g->shapes.get(n[3].shape), dims({2}));
}

}  // namespace
}  // namespace tessary
