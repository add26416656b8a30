#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "graph/passes.h"

namespace tessary {
namespace {

// Builds graphs node by node for the pass tests.
struct G {
  Graph g;

  NodeId input(ShapeId shape = 0) {
    Node n;
    n.kind = NodeKind::graph_input();
    n.shape = shape;
    const NodeId id = g.add_node(n);
    g.input_nodes.push_back(id);
    g.input_names.emplace_back("in");
    return id;
  }
  NodeId op(OpKind kind, std::initializer_list<InputSource> inputs, ShapeId shape = 0,
            DTypeId dtype = DTypeId::F32) {
    Node n;
    n.kind = NodeKind::of_op(kind);
    n.inputs = SmallVector<InputSource, 4>(inputs);
    n.shape = shape;
    n.dtype = dtype;
    return g.add_node(n);
  }
  NodeId output(InputSource from) {
    Node n;
    n.kind = NodeKind::graph_output();
    n.inputs.push_back(from);
    const NodeId id = g.add_node(n);
    g.output_nodes.push_back(id);
    g.output_names.emplace_back("out");
    return id;
  }
  InputSource constant(DTypeId dtype, std::vector<std::uint8_t> bytes) {
    return InputSource::constant(g.constants.insert(ConstantEntry{std::move(bytes), 0, dtype}));
  }
  InputSource f32s(std::vector<float> values) {
    std::vector<std::uint8_t> bytes(values.size() * 4);
    std::memcpy(bytes.data(), values.data(), bytes.size());
    return constant(DTypeId::F32, std::move(bytes));
  }
  ShapeId shape(std::initializer_list<std::uint64_t> dims) {
    ShapeDescriptor d;
    std::uint8_t r = 0;
    for (auto v : dims) d.dims[r++] = v;
    d.rank = r;
    return g.shapes.intern(d);
  }
};

InputSource N(NodeId id) { return InputSource::node(id); }

std::vector<InputSource> operands(const Graph& g, NodeId id) {
  const auto& in = g.nodes.at(id).inputs;
  return {in.begin(), in.end()};
}

// ---- desugar_composites ----

TEST(DesugarComposites, SwigluBecomesTwoMatmulsSiluAndMul) {
  G b;
  const ShapeId s = b.shape({1, 8});
  const NodeId x = b.input();
  const InputSource wg = b.f32s({1, 2});
  const InputSource wu = b.f32s({3, 4});
  const NodeId sw = b.op(OpKind::FusedSwiglu, {N(x), wg, wu}, s, DTypeId::BF16);
  const NodeId r = b.op(OpKind::Relu, {N(sw)});
  b.output(N(r));
  b.g.set_conv_attrs(r, ConvAttrs{2, 2, 0, 0, 1, 1});  // must follow the relu to its new id
  b.g.schedule = std::vector<Wave>{};

  ASSERT_EQ(desugar_composites(b.g), 1u);
  const Graph& g = b.g;
  ASSERT_EQ(g.nodes.size(), 7u);  // grew by 3
  auto expect_op = [&](NodeId id, OpKind kind, std::vector<InputSource> ins) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(g.nodes[id].kind.is_op(kind));
    EXPECT_EQ(operands(g, id), ins);
    EXPECT_EQ(g.nodes[id].shape, s);
    EXPECT_EQ(g.nodes[id].dtype, DTypeId::BF16);
  };
  expect_op(1, OpKind::Matmul, {N(0), wg});
  expect_op(2, OpKind::Silu, {N(1)});
  expect_op(3, OpKind::Matmul, {N(0), wu});
  expect_op(4, OpKind::Mul, {N(2), N(3)});
  EXPECT_TRUE(g.nodes[5].kind.is_op(OpKind::Relu));
  EXPECT_EQ(operands(g, 5), std::vector<InputSource>{N(4)});
  EXPECT_EQ(operands(g, 6), std::vector<InputSource>{N(5)});
  EXPECT_EQ(g.outputs()[0], 6u);
  EXPECT_EQ(g.inputs()[0], 0u);
  ASSERT_EQ(g.conv_table.size(), 1u);
  EXPECT_EQ(g.conv_table[0].first, 5u);
  EXPECT_FALSE(g.schedule.has_value());
}

TEST(DesugarComposites, ClipWithBothBoundsBecomesMaxThenMin) {
  G b;
  const NodeId x = b.input();
  const InputSource lo = b.f32s({-1});
  const InputSource hi = b.f32s({1});
  const NodeId c = b.op(OpKind::Clip, {N(x), lo, hi, b.f32s({9})}, 0, DTypeId::F16);  // 4th ignored
  b.output(N(c));
  ASSERT_EQ(desugar_composites(b.g), 1u);
  ASSERT_EQ(b.g.nodes.size(), 4u);
  EXPECT_TRUE(b.g.nodes[1].kind.is_op(OpKind::Max));
  EXPECT_EQ(operands(b.g, 1), (std::vector<InputSource>{N(0), lo}));
  EXPECT_TRUE(b.g.nodes[2].kind.is_op(OpKind::Min));
  EXPECT_EQ(operands(b.g, 2), (std::vector<InputSource>{N(1), hi}));
  EXPECT_EQ(b.g.nodes[2].dtype, DTypeId::F16);
  EXPECT_EQ(operands(b.g, 3), std::vector<InputSource>{N(2)});
}

TEST(DesugarComposites, ShortFormsAreKeptAndLeaveTheGraphUntouched) {
  G b;
  const NodeId x = b.input();
  b.op(OpKind::Clip, {N(x)});
  b.op(OpKind::Clip, {N(x), b.f32s({0})});
  b.op(OpKind::FusedSwiglu, {N(x), b.f32s({0})});
  b.g.schedule = std::vector<Wave>{Wave{0}};
  const std::vector<Node> before = b.g.nodes;
  EXPECT_EQ(desugar_composites(b.g), 0u);
  EXPECT_EQ(b.g.nodes, before);
  ASSERT_TRUE(b.g.schedule.has_value());  // kept when nothing is rewritten
  EXPECT_EQ(b.g.schedule->size(), 1u);
}

// ---- identity_fill ----

TEST(IdentityFill, ComparesBitPatternsPerElementType) {
  G b;
  struct Case {
    const char* what;
    DTypeId dtype;
    std::vector<std::uint8_t> bytes;
    IdentityFill expect;
  };
  const std::vector<Case> cases = {
      {"f32 zeros", DTypeId::F32, {0, 0, 0, 0, 0, 0, 0, 0}, IdentityFill::Zeros},
      {"f32 with -0.0", DTypeId::F32, {0, 0, 0, 0, 0, 0, 0, 0x80}, IdentityFill::Other},
      {"f32 ones", DTypeId::F32, {0, 0, 0x80, 0x3F, 0, 0, 0x80, 0x3F}, IdentityFill::Ones},
      {"f16 ones", DTypeId::F16, {0x00, 0x3C, 0x00, 0x3C}, IdentityFill::Ones},
      {"f16 -0.0", DTypeId::F16, {0x00, 0x80}, IdentityFill::Other},
      {"bf16 ones", DTypeId::BF16, {0x80, 0x3F}, IdentityFill::Ones},
      {"bf16 zeros", DTypeId::BF16, {0, 0}, IdentityFill::Zeros},
      {"bf16 read as f16 one", DTypeId::BF16, {0x00, 0x3C}, IdentityFill::Other},
      {"f32 mixed", DTypeId::F32, {0, 0, 0, 0, 0, 0, 0x80, 0x3F}, IdentityFill::Other},
      {"empty", DTypeId::F32, {}, IdentityFill::Other},
      {"partial element", DTypeId::F32, {0, 0, 0, 0, 0, 0}, IdentityFill::Other},
      {"integer zeros", DTypeId::I32, {0, 0, 0, 0}, IdentityFill::Other},
      {"f64 zeros", DTypeId::F64, {0, 0, 0, 0, 0, 0, 0, 0}, IdentityFill::Other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(identity_fill(b.g, b.constant(c.dtype, c.bytes)), c.expect);
  }
}

TEST(IdentityFill, ResolvesConstantNodesOnly) {
  G b;
  const InputSource ones = b.f32s({1, 1});
  Node cn;
  cn.kind = NodeKind::of_constant(ones.payload);
  const NodeId const_node = b.g.add_node(cn);
  const NodeId x = b.input();
  const NodeId relu = b.op(OpKind::Relu, {N(x)});
  EXPECT_EQ(identity_fill(b.g, N(const_node)), IdentityFill::Ones);
  EXPECT_EQ(identity_fill(b.g, N(relu)), IdentityFill::Other);
  EXPECT_EQ(identity_fill(b.g, N(99)), IdentityFill::Other);
  EXPECT_EQ(identity_fill(b.g, InputSource::constant(99)), IdentityFill::Other);
  EXPECT_EQ(identity_fill(b.g, InputSource::graph_input(0)), IdentityFill::Other);
}

// ---- elide_invariants ----

// One binary op whose result feeds an output; returns the output's operand
// after the pass.
struct BinaryCase {
  const char* what;
  OpKind kind;
  bool constant_first;
  std::vector<float> values;
  bool elided;
};

TEST(ElideInvariants, BinaryIdentities) {
  const std::vector<BinaryCase> cases = {
      {"add(0, x)", OpKind::Add, true, {0, 0}, true},
      {"add(x, 0)", OpKind::Add, false, {0, 0}, true},
      {"add(x, -0.0)", OpKind::Add, false, {0, -0.0f}, false},
      {"sub(x, 0)", OpKind::Sub, false, {0}, true},
      {"sub(0, x)", OpKind::Sub, true, {0}, false},
      {"mul(1, x)", OpKind::Mul, true, {1, 1}, true},
      {"mul(x, 1)", OpKind::Mul, false, {1}, true},
      {"mul(x, 0)", OpKind::Mul, false, {0}, false},
      {"div(x, 1)", OpKind::Div, false, {1}, true},
      {"div(1, x)", OpKind::Div, true, {1}, false},
      {"pow(x, 1)", OpKind::Pow, false, {1}, true},
      {"add(x, 1)", OpKind::Add, false, {1}, false},
  };
  for (const BinaryCase& c : cases) {
    SCOPED_TRACE(c.what);
    G b;
    const NodeId x = b.input();
    const InputSource k = b.f32s(c.values);
    const NodeId op = c.constant_first ? b.op(c.kind, {k, N(x)}) : b.op(c.kind, {N(x), k});
    b.output(N(op));
    EXPECT_EQ(elide_invariants(b.g), c.elided ? 1u : 0u);
    const NodeId out = b.g.outputs()[0];
    if (c.elided) {
      EXPECT_EQ(b.g.nodes.size(), 2u);
      EXPECT_EQ(out, 1u);
      EXPECT_EQ(operands(b.g, out), std::vector<InputSource>{N(x)});
    } else {
      EXPECT_EQ(b.g.nodes.size(), 3u);
      EXPECT_EQ(operands(b.g, out), std::vector<InputSource>{N(op)});
    }
  }
}

TEST(ElideInvariants, MulByBf16OnesAndAddOfTwoZeroConstants) {
  G b;
  const NodeId x = b.input();
  const NodeId m = b.op(OpKind::Mul, {N(x), b.constant(DTypeId::BF16, {0x80, 0x3F, 0x80, 0x3F})});
  const InputSource z1 = b.f32s({0});
  const InputSource z2 = b.f32s({0, 0});
  const NodeId a = b.op(OpKind::Add, {z1, z2});
  b.output(N(m));
  b.output(N(a));
  EXPECT_EQ(elide_invariants(b.g), 2u);
  ASSERT_EQ(b.g.nodes.size(), 3u);
  EXPECT_EQ(operands(b.g, b.g.outputs()[0]), std::vector<InputSource>{N(x)});
  // The second operand stands in, so the output now reads a constant.
  EXPECT_EQ(operands(b.g, b.g.outputs()[1]), std::vector<InputSource>{z2});
}

TEST(ElideInvariants, NestedNegations) {
  {
    G b;  // neg(neg(x)) feeding an output reads x
    const NodeId x = b.input();
    const NodeId n1 = b.op(OpKind::Neg, {N(x)});
    const NodeId n2 = b.op(OpKind::Neg, {N(n1)});
    b.output(N(n2));
    elide_invariants(b.g);
    EXPECT_EQ(operands(b.g, b.g.outputs()[0]), std::vector<InputSource>{N(x)});
  }
  {
    G b;  // neg(neg(neg(x))): the output reads one neg of x
    const NodeId x = b.input();
    const NodeId n1 = b.op(OpKind::Neg, {N(x)});
    const NodeId n2 = b.op(OpKind::Neg, {N(n1)});
    const NodeId n3 = b.op(OpKind::Neg, {N(n2)});
    b.output(N(n3));
    EXPECT_EQ(elide_invariants(b.g), 1u);
    // Nodes: x, the first neg (kept when visited, now unused), neg(x), output.
    ASSERT_EQ(b.g.nodes.size(), 4u);
    const std::vector<InputSource> from_out = operands(b.g, b.g.outputs()[0]);
    ASSERT_EQ(from_out.size(), 1u);
    const NodeId neg = from_out[0].payload;
    EXPECT_TRUE(b.g.nodes[neg].kind.is_op(OpKind::Neg));
    EXPECT_EQ(operands(b.g, neg), std::vector<InputSource>{N(x)});
  }
  {
    G b;  // bnot(neg(x)) mixes kinds and stays
    const NodeId x = b.input();
    const NodeId n1 = b.op(OpKind::Neg, {N(x)});
    const NodeId n2 = b.op(OpKind::Bnot, {N(n1)});
    b.output(N(n2));
    EXPECT_EQ(elide_invariants(b.g), 0u);
    EXPECT_EQ(operands(b.g, b.g.outputs()[0]), std::vector<InputSource>{N(n2)});
  }
}

TEST(ElideInvariants, Reshapes) {
  {
    G b;  // reshape(reshape(x)) with distinct identifiers: one reshape of x, outer identifier
    const ShapeId s0 = b.shape({2, 3});
    const ShapeId s1 = b.shape({6});
    const ShapeId s2 = b.shape({3, 2});
    const NodeId x = b.input(s0);
    const NodeId r1 = b.op(OpKind::Reshape, {N(x)}, s1);
    const NodeId r2 = b.op(OpKind::Reshape, {N(r1)}, s2, DTypeId::F16);
    b.output(N(r2));
    EXPECT_EQ(elide_invariants(b.g), 1u);
    const NodeId from = operands(b.g, b.g.outputs()[0])[0].payload;
    EXPECT_TRUE(b.g.nodes[from].kind.is_op(OpKind::Reshape));
    EXPECT_EQ(operands(b.g, from), std::vector<InputSource>{N(x)});
    EXPECT_EQ(b.g.nodes[from].shape, s2);
    EXPECT_EQ(b.g.nodes[from].dtype, DTypeId::F16);
  }
  {
    G b;  // same identifier as its operand: replaced by the operand
    const ShapeId s = b.shape({4});
    const NodeId x = b.input(s);
    const NodeId r = b.op(OpKind::Reshape, {N(x)}, s);
    b.output(N(r));
    EXPECT_EQ(elide_invariants(b.g), 1u);
    EXPECT_EQ(operands(b.g, b.g.outputs()[0]), std::vector<InputSource>{N(x)});
  }
  {
    G b;  // an equal shape interned twice is a different identifier: kept
    const NodeId x = b.input(b.shape({4}));
    const NodeId r = b.op(OpKind::Reshape, {N(x)}, b.shape({4}));
    b.output(N(r));
    EXPECT_EQ(elide_invariants(b.g), 0u);
    EXPECT_EQ(operands(b.g, b.g.outputs()[0]), std::vector<InputSource>{N(r)});
  }
}

TEST(ElideInvariants, RenumbersListsAndSideTables) {
  G b;
  const NodeId x = b.input();
  const NodeId a = b.op(OpKind::Add, {N(x), b.f32s({0})});
  const NodeId pool = b.op(OpKind::MaxPool2d, {N(a)});
  const NodeId y = b.input();
  const NodeId g = b.op(OpKind::Gather, {N(pool), N(y)});
  b.output(N(g));
  b.g.set_conv_attrs(pool, ConvAttrs{2, 2, 0, 0, 2, 2});
  b.g.set_gather_attrs(g, GatherAttrs{-1});
  b.g.set_conv_attrs(a, ConvAttrs{});  // a record on a node that goes away is dropped
  b.g.schedule = std::vector<Wave>{};

  EXPECT_EQ(elide_invariants(b.g), 1u);
  const Graph& gr = b.g;
  ASSERT_EQ(gr.nodes.size(), 5u);
  EXPECT_EQ(operands(gr, 1), std::vector<InputSource>{N(0)});  // the pool reads x
  EXPECT_EQ((std::vector<NodeId>{gr.inputs().begin(), gr.inputs().end()}), (std::vector<NodeId>{0, 2}));
  EXPECT_EQ(gr.outputs()[0], 4u);
  ASSERT_EQ(gr.conv_table.size(), 1u);
  EXPECT_EQ(gr.conv_table[0].first, 1u);
  EXPECT_EQ(gr.conv_attrs(1), (ConvAttrs{2, 2, 0, 0, 2, 2}));
  EXPECT_EQ(gr.gather_attrs(3), GatherAttrs{-1});
  EXPECT_FALSE(gr.schedule.has_value());  // node ids moved
}

// ---- compute_schedule ----

TEST(ComputeSchedule, WavesByLongestChain) {
  G b;
  const NodeId x = b.input();
  const NodeId r1 = b.op(OpKind::Relu, {N(x)});
  const NodeId r2 = b.op(OpKind::Relu, {N(x)});
  b.op(OpKind::Add, {N(r1), N(r2)});
  compute_schedule(b.g);
  ASSERT_TRUE(b.g.schedule.has_value());
  ASSERT_EQ(b.g.schedule->size(), 3u);
  EXPECT_EQ((*b.g.schedule)[0], (Wave{0}));
  EXPECT_EQ((*b.g.schedule)[1], (Wave{1, 2}));
  EXPECT_EQ((*b.g.schedule)[2], (Wave{3}));
}

TEST(ComputeSchedule, OnlyEarlierNodeOperandsOrder) {
  G b;
  const NodeId x = b.input();                                       // 0: level 0
  const NodeId k = b.op(OpKind::Relu, {b.f32s({1})});               // 1: constant only, level 0
  b.op(OpKind::Relu, {InputSource::graph_input(0)});                // 2: graph input ref, level 0
  const NodeId c = b.op(OpKind::Add, {N(k), N(x)});                 // 3: level 1
  b.op(OpKind::Add, {N(c), N(7)});                                  // 4: later ref ignored, level 2
  b.op(OpKind::Neg, {N(5)});                                        // 5: self ref ignored, level 0
  compute_schedule(b.g);
  ASSERT_EQ(b.g.schedule->size(), 3u);
  EXPECT_EQ((*b.g.schedule)[0], (Wave{0, 1, 2, 5}));
  EXPECT_EQ((*b.g.schedule)[1], (Wave{3}));
  EXPECT_EQ((*b.g.schedule)[2], (Wave{4}));
}

TEST(ComputeSchedule, EmptyGraphGetsPresentEmptySchedule) {
  Graph g;
  compute_schedule(g);
  ASSERT_TRUE(g.schedule.has_value());
  EXPECT_TRUE(g.schedule->empty());
}

TEST(ComputeSchedule, WavesPastInlineCapacity) {
  G b;
  const NodeId x = b.input();
  for (int i = 0; i < 20; ++i) b.op(OpKind::Relu, {N(x)});
  compute_schedule(b.g);
  ASSERT_EQ(b.g.schedule->size(), 2u);
  const Wave& w = (*b.g.schedule)[1];
  ASSERT_EQ(w.size(), 20u);
  for (std::uint32_t i = 0; i < 20; ++i) EXPECT_EQ(w[i], i + 1);
}

}  // namespace
}  // namespace tessary
