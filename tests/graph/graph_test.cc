#include <gtest/gtest.h>

#include <cstdint>

#include "graph/graph.h"

namespace tessary {
namespace {

Node op_node(OpKind kind, std::initializer_list<InputSource> inputs) {
  Node n;
  n.kind = NodeKind::of_op(kind);
  for (auto s : inputs) n.inputs.push_back(s);
  return n;
}

TEST(Graph, AddNodeReturnsPositions) {
  Graph g;
  EXPECT_EQ(g.add_node(Node{}), 0u);
  EXPECT_EQ(g.add_node(op_node(OpKind::Relu, {InputSource::node(0)})), 1u);
  ASSERT_NE(g.node(1), nullptr);
  EXPECT_TRUE(g.node(1)->kind.is_op(OpKind::Relu));
  EXPECT_EQ(g.node(2), nullptr);
}

TEST(Graph, OperandsBeyondInlineCapacityKeepTheirOrder) {
  Node n;
  for (std::uint32_t i = 0; i < 7; ++i) {
    n.inputs.push_back(i % 2 ? InputSource::constant(i) : InputSource::node(i));
  }
  Node copy = n;  // copies of a spilled array are independent
  n.inputs.clear();
  ASSERT_EQ(copy.inputs.size(), 7u);
  for (std::uint32_t i = 0; i < 7; ++i) {
    EXPECT_EQ(copy.inputs[i], i % 2 ? InputSource::constant(i) : InputSource::node(i));
  }
  EXPECT_TRUE(n.inputs.empty());
  n.inputs.push_back(InputSource::graph_input(3));
  EXPECT_EQ(n.inputs[0].tag, InputSourceTag::GraphInput);
  EXPECT_EQ(n.inputs[0].payload, 3u);
}

TEST(Graph, SettingAttributesTwiceReplacesInPlace) {
  Graph g;
  g.set_conv_attrs(0, ConvAttrs{1, 1, 0, 0, 3, 3});
  g.set_conv_attrs(5, ConvAttrs{2, 2, 1, 1, 5, 5});
  g.set_conv_attrs(0, ConvAttrs{4, 4, 2, 2, 7, 7});
  ASSERT_EQ(g.conv_table.size(), 2u);
  EXPECT_EQ(g.conv_table[0].first, 0u);
  EXPECT_EQ(g.conv_table[0].second, (ConvAttrs{4, 4, 2, 2, 7, 7}));
  EXPECT_EQ(g.conv_attrs(0), (ConvAttrs{4, 4, 2, 2, 7, 7}));
  EXPECT_EQ(g.conv_attrs(5), (ConvAttrs{2, 2, 1, 1, 5, 5}));
  EXPECT_FALSE(g.conv_attrs(1).has_value());
  // Tables are separate: no other table gained a record.
  EXPECT_FALSE(g.lrn_attrs(0).has_value());
  EXPECT_TRUE(g.quant_table.empty());
}

TEST(Graph, EveryTableRoundTrips) {
  Graph g;
  QuantAttrs q{0.5f, -3, 1, 2, WeightLayout::OutputMajor, ActQuant::W8A8TokenSym};
  g.set_quant_attrs(1, q);
  g.set_lrn_attrs(1, LrnAttrs{5, 0.5f, 0.25f, 2.0f});
  g.set_gemm_attrs(1, GemmAttrs{2.0f, 0.0f});
  g.set_norm_attrs(1, NormAttrs{4});
  g.set_reduce_attrs(1, ReduceAttrs{5, 1});
  g.set_gather_attrs(1, GatherAttrs{-1});
  g.set_attention_attrs(1, AttentionAttrs{0x3F000000u, 1});
  EXPECT_EQ(g.quant_attrs(1), q);
  EXPECT_EQ(g.lrn_attrs(1), (LrnAttrs{5, 0.5f, 0.25f, 2.0f}));
  EXPECT_EQ(g.gemm_attrs(1), (GemmAttrs{2.0f, 0.0f}));
  EXPECT_EQ(g.norm_attrs(1), NormAttrs{4});
  EXPECT_EQ(g.reduce_attrs(1), (ReduceAttrs{5, 1}));
  EXPECT_EQ(g.gather_attrs(1), GatherAttrs{-1});
  EXPECT_EQ(g.attention_attrs(1), (AttentionAttrs{0x3F000000u, 1}));
  int tables = 0;
  g.for_each_attr_table([&](const auto& t) { tables += static_cast<int>(t.size()); });
  EXPECT_EQ(tables, 7);
}

TEST(Graph, MissingReduceAndAttentionRecordsReadAsTwo) {
  Graph g;
  EXPECT_EQ(g.reduce_attrs(0), (ReduceAttrs{0, 2}));
  EXPECT_EQ(g.attention_attrs(0), (AttentionAttrs{0, 2}));
  g.set_reduce_attrs(0, ReduceAttrs{3, 0});
  EXPECT_EQ(g.reduce_attrs(0), (ReduceAttrs{3, 0}));
  EXPECT_EQ(g.reduce_attrs(1).keepdims, 2);
}

TEST(Graph, AttributeDefaults) {
  EXPECT_EQ(ConvAttrs{}, (ConvAttrs{1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(LrnAttrs{}, (LrnAttrs{1, 0.0001f, 0.75f, 1.0f}));
  EXPECT_EQ(GemmAttrs{}, (GemmAttrs{1.0f, 1.0f}));
  EXPECT_EQ(QuantAttrs{}, (QuantAttrs{0.0f, 0, -1, 0, WeightLayout::RowMajor, ActQuant::W8A32}));
}

TEST(ShapeRegistry, InterningTheSameShapeTwiceGivesTwoIdentifiers) {
  ShapeRegistry r;
  ShapeDescriptor d;
  d.rank = 2;
  d.dims[0] = 2;
  d.dims[1] = 3;
  EXPECT_EQ(r.intern(d), 0u);
  EXPECT_EQ(r.intern(d), 1u);
  EXPECT_EQ(r.size(), 2u);
  ASSERT_NE(r.get(1), nullptr);
  EXPECT_EQ(*r.get(1), d);
  EXPECT_EQ(r.get(2), nullptr);
  EXPECT_EQ(ShapeRegistry{}.get(0), nullptr);
}

ShapeDescriptor dims_of(std::initializer_list<std::uint64_t> dims) {
  ShapeDescriptor d;
  for (auto v : dims) d.dims[d.rank++] = v;
  return d;
}

TEST(ShapeDescriptor, TotalElementsSaturates) {
  constexpr std::uint64_t k2p32 = std::uint64_t{1} << 32;
  EXPECT_EQ(dims_of({}).total_elements(), 1u);
  EXPECT_EQ(dims_of({2, 3, 4}).total_elements(), 24u);
  EXPECT_EQ(dims_of({k2p32, k2p32}).total_elements(), UINT64_MAX);
  EXPECT_EQ(dims_of({k2p32, k2p32, 0}).total_elements(), 0u);
  EXPECT_EQ(dims_of({k2p32 - 1, k2p32 + 1}).total_elements(), UINT64_MAX);  // 2^64 - 1 exactly
  EXPECT_EQ(dims_of({UINT64_MAX, 1}).total_elements(), UINT64_MAX);

  ShapeDescriptor f = dims_of({k2p32, k2p32});
  f.further = std::vector<std::uint64_t>{5, 0};
  EXPECT_EQ(f.total_elements(), 0u);  // a later factor 0 still gives 0
  ShapeDescriptor g = dims_of({});
  g.further = std::vector<std::uint64_t>{3, 7};
  EXPECT_EQ(g.total_elements(), 21u);
}

TEST(ConstantStore, InsertAppendsWithAbsentDigest) {
  ConstantStore s;
  EXPECT_EQ(s.insert(ConstantEntry{{1, 2, 3, 4}, 0, DTypeId::F32}), 0u);
  EXPECT_EQ(s.insert(ConstantEntry{{}, 7, DTypeId::U8}), 1u);
  ASSERT_EQ(s.digests().size(), 2u);
  EXPECT_FALSE(s.digests()[0].has_value());
  EXPECT_FALSE(s.digests()[1].has_value());
  ASSERT_NE(s.get(1), nullptr);
  EXPECT_EQ(s.get(1)->shape, 7u);
  EXPECT_EQ(s.get(1)->dtype, DTypeId::U8);
  EXPECT_EQ(s.get(2), nullptr);
}

}  // namespace
}  // namespace tessary
