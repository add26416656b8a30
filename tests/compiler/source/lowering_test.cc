#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "compiler/source/frontends/frontend_registry.h"
#include "compiler/source/lowering.h"

namespace tessary {
namespace {

SourceShape shape(std::initializer_list<std::uint64_t> dims) {
  return *SourceShape::from_dims(std::span<const std::uint64_t>(dims.begin(), dims.size()));
}

SourceProgram parse(std::string_view text) {
  auto r = parse_ir_diagnostic(text, 0);
  EXPECT_TRUE(r.has_value()) << text << ": " << (r ? "" : r.error().message);
  return r ? std::move(*r) : SourceProgram{};
}

std::string lowering_error(const SourceProgram& p) {
  auto g = lower_ir(p);
  if (g) return "(lowered)";
  EXPECT_EQ(g.error().kind, CompileErrorKind::Message);
  return std::string(g.error().message);
}

TEST(Lowering, EmptyProgramGivesEmptyGraph) {
  auto g = lower_ir(SourceProgram{});
  ASSERT_TRUE(g.has_value());
  EXPECT_TRUE(g->nodes.empty());
  EXPECT_TRUE(g->inputs().empty());
  EXPECT_TRUE(g->outputs().empty());
  EXPECT_TRUE(g->constants.empty());
  EXPECT_TRUE(g->shapes.empty());
  EXPECT_FALSE(g->schedule.has_value());
}

TEST(Lowering, WorkedExample) {
  SourceProgram p = parse(
      "input x: f32[1, 4]\n"
      "const w: f32[4, 2] = [0.5, -1, 2, 0, 1.5, 1, -0.25, 3]\n"
      "let h = matmul(x, w)\n"
      "let r: f32[1, 2] = relu(h)\n"
      "let s = reduce_sum(r, axes=[1], keepdims=true)\n"
      "output s\n");
  SourceProgram before = p;
  auto g = lower_ir(p);
  ASSERT_TRUE(g.has_value()) << g.error().message;
  EXPECT_TRUE(p == before);  // lower_ir leaves its program as it was

  ASSERT_EQ(g->nodes.size(), 5u);
  const auto& n = g->nodes;
  EXPECT_EQ(n[0].kind, NodeKind::graph_input());
  EXPECT_TRUE(n[0].inputs.empty());
  EXPECT_EQ(n[0].shape, 0u);
  EXPECT_EQ(n[1].kind, NodeKind::of_op(OpKind::Matmul));
  EXPECT_EQ(n[1].inputs, (SmallVector<InputSource, 4>{InputSource::node(0), InputSource::constant(0)}));
  EXPECT_EQ(n[1].shape, 2u);  // undeclared: inferred [1, 4] x [4, 2] -> [1, 2]
  EXPECT_EQ(n[2].kind, NodeKind::of_op(OpKind::Relu));
  EXPECT_EQ(n[2].inputs, (SmallVector<InputSource, 4>{InputSource::node(1)}));
  EXPECT_EQ(n[2].shape, 3u);
  EXPECT_EQ(n[3].kind, NodeKind::of_op(OpKind::ReduceSum));
  EXPECT_EQ(n[3].shape, 4u);  // undeclared: [1, 2] reduced over axis 1, kept -> [1, 1]
  EXPECT_EQ(n[4].kind, NodeKind::graph_output());
  EXPECT_EQ(n[4].inputs, (SmallVector<InputSource, 4>{InputSource::node(3)}));
  for (const Node& node : n) EXPECT_EQ(node.dtype, DTypeId::F32);

  EXPECT_EQ(std::vector<NodeId>(g->inputs().begin(), g->inputs().end()), std::vector<NodeId>{0});
  EXPECT_EQ(std::vector<NodeId>(g->outputs().begin(), g->outputs().end()), std::vector<NodeId>{4});
  EXPECT_EQ(g->input_names, std::vector<std::string>{"x"});
  EXPECT_EQ(g->output_names, std::vector<std::string>{"s"});

  ASSERT_EQ(g->shapes.size(), 5u);  // x, w, inferred h, declared r, inferred s
  EXPECT_EQ(*g->shapes.get(0), shape({1, 4}).descriptor());
  EXPECT_EQ(*g->shapes.get(1), shape({4, 2}).descriptor());
  EXPECT_EQ(*g->shapes.get(2), shape({1, 2}).descriptor());
  EXPECT_EQ(*g->shapes.get(3), shape({1, 2}).descriptor());
  EXPECT_EQ(*g->shapes.get(4), shape({1, 1}).descriptor());
  ASSERT_EQ(g->constants.size(), 1u);
  EXPECT_EQ(g->constants.get(0)->shape, 1u);
  EXPECT_EQ(g->constants.get(0)->bytes.size(), 32u);
  EXPECT_EQ(g->constants.get(0)->bytes, std::get<SourceConst>(p.items()[1]).bytes);

  EXPECT_EQ(g->reduce_table.size(), 1u);
  EXPECT_EQ(g->reduce_attrs(3), (ReduceAttrs{2, 1}));
  EXPECT_EQ(g->reduce_attrs(2).keepdims, kAttrAbsent);

  auto again = lower_ir(p);  // the same program lowers again to the same graph
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->nodes, g->nodes);
}

TEST(Lowering, AttributeRecordsReachTheSideTables) {
  SourceProgram p = parse(
      "input x: f32[1, 4]\n"
      "let a = conv2d(x, x, k=[3,3], stride=[2,2])\n"
      "let b = lrn(a, size=3)\n"
      "let c = gemm(b, b, alpha=2)\n"
      "let d = group_norm(c, num_groups=2)\n"
      "let e = gather(d, x, axis=1)\n"
      "let f = dequantize(e, scale=0.5)\n"
      "let g = attention(f, f, f, causal=true)\n"
      "let h = reduce_max(g, axes_mask=3)\n");
  auto g = lower_ir(p);
  ASSERT_TRUE(g.has_value()) << g.error().message;
  EXPECT_EQ(g->conv_attrs(1), (ConvAttrs{2, 2, 0, 0, 3, 3}));
  EXPECT_EQ(g->lrn_attrs(2), (LrnAttrs{3, 0.0001f, 0.75f, 1.0f}));
  EXPECT_EQ(g->gemm_attrs(3), (GemmAttrs{2.0f, 1.0f}));
  EXPECT_EQ(g->norm_attrs(4), NormAttrs{2});
  EXPECT_EQ(g->gather_attrs(5), GatherAttrs{1});
  EXPECT_EQ(g->quant_attrs(6), (QuantAttrs{0.5f, 0, -1, 0, WeightLayout::RowMajor, ActQuant::W8A32}));
  EXPECT_EQ(g->attention_attrs(7), (AttentionAttrs{0, 1}));
  EXPECT_EQ(g->reduce_attrs(8), (ReduceAttrs{3, 0}));
  int records = 0;
  g->for_each_attr_table([&](const auto& t) { records += static_cast<int>(t.size()); });
  EXPECT_EQ(records, 8);
}

TEST(Lowering, OutputsAndAliases) {
  auto g = lower_ir(parse("input x :4\noutput x\n"));
  ASSERT_TRUE(g.has_value());
  ASSERT_EQ(g->nodes.size(), 2u);
  EXPECT_EQ(g->nodes[1].inputs, (SmallVector<InputSource, 4>{InputSource::node(0)}));
  EXPECT_EQ(g->output_names, std::vector<std::string>{"x"});

  SourceProgram p;
  SourceSymbol x = p.intern("x"), port = p.intern("port");
  p.push(SourceInput{x, std::nullopt});
  p.push(SourceOutput{x, port});
  p.push(SourceOutput{x, std::nullopt});
  auto a = lower_ir(p);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->output_names, (std::vector<std::string>{"port", "x"}));
  EXPECT_EQ(a->nodes[0].shape, 0u);
  EXPECT_TRUE(a->shapes.empty());
}

TEST(Lowering, NameErrors) {
  EXPECT_EQ(lowering_error(parse("input x :2\ninput x :2")), "source: duplicate name");
  EXPECT_EQ(lowering_error(parse("input x :2\nconst x :2 = 1 2")), "source: duplicate name");
  EXPECT_EQ(lowering_error(parse("input x :2\nop relu x as=x")), "source: duplicate name");
  EXPECT_EQ(lowering_error(parse("let y = relu(z)")), "op: unresolved input");
  EXPECT_EQ(lowering_error(parse("let y = relu(y)")), "op: unresolved input");  // no self reference
  EXPECT_EQ(lowering_error(parse("const c :2 = 1 2\noutput c")), "output: unknown/!node source");
  EXPECT_EQ(lowering_error(parse("output nowhere")), "output: unknown/!node source");
  // An unnamed op result cannot be named later.
  EXPECT_EQ(lowering_error(parse("input x :2\nop relu x\noutput relu")), "output: unknown/!node source");

  SourceProgram bad_input;
  bad_input.push(SourceInput{3, std::nullopt});
  EXPECT_EQ(lowering_error(bad_input), "source: bad symbol");
  SourceProgram bad_alias;
  SourceSymbol x = bad_alias.intern("x");
  bad_alias.push(SourceInput{x, std::nullopt});
  bad_alias.push(SourceOutput{x, 7});
  EXPECT_EQ(lowering_error(bad_alias), "source: bad symbol");

  SourceProgram no_expr;
  no_expr.push(SourceBinding{});
  EXPECT_EQ(lowering_error(no_expr), "binding: unsupported expr");
}

TEST(Lowering, ConstantChecks) {
  EXPECT_EQ(lowering_error(parse("const c :2x3 = 1 2 3 4 5")), "const: value count mismatch");
  EXPECT_EQ(lowering_error(parse("const c: f32[2, 3] = [1, 2, 3, 4, 5, 6, 7]")), "const: value count mismatch");

  SourceProgram p;
  SourceSymbol c = p.intern("c");
  p.push(SourceConst{c, shape({2, 3}), 6, std::vector<std::uint8_t>(20)});
  EXPECT_EQ(lowering_error(p), "const: byte count mismatch");

  SourceProgram missing;
  missing.push(SourceConst{missing.intern("c"), std::nullopt, 0, {}});
  EXPECT_EQ(lowering_error(missing), "const: missing shape");

  SourceProgram dtype;
  auto i32 = shape({2});
  i32.dtype = DTypeId::I32;
  dtype.push(SourceConst{dtype.intern("c"), i32, 2, std::vector<std::uint8_t>(8)});
  EXPECT_EQ(lowering_error(dtype), "const: unsupported dtype");

  SourceProgram huge;
  huge.push(SourceConst{huge.intern("c"), shape({1u << 31, 1u << 31}), std::uint64_t{1} << 62, {}});
  EXPECT_EQ(lowering_error(huge), "const: byte count overflow");

  SourceProgram zero;
  zero.push(SourceConst{zero.intern("c"), shape({0, 5}), 0, {}});
  auto g = lower_ir(zero);
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->constants.size(), 1u);
  EXPECT_TRUE(g->nodes.empty());  // constants are not nodes
}

TEST(Lowering, ExpectedByteLen) {
  EXPECT_EQ(expected_byte_len(shape({2, 3})), 24u);
  EXPECT_EQ(expected_byte_len(shape({})), 4u);
  EXPECT_EQ(expected_byte_len(shape({(std::uint64_t{1} << 62) - 1})), ((std::uint64_t{1} << 62) - 1) * 4);
  EXPECT_EQ(expected_byte_len(shape({std::uint64_t{1} << 62})).error().message, "const: byte count overflow");
  EXPECT_EQ(expected_byte_len(shape({UINT64_MAX, UINT64_MAX})).error().message, "const: byte count overflow");
  EXPECT_EQ(expected_byte_len(std::nullopt).error().message, "const: missing shape");
}

}  // namespace
}  // namespace tessary
