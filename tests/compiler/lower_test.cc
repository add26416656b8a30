#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "compile_fixture.h"
#include "compiler/lower.h"
#include "compiler/lower_completion.h"

namespace tessary {
namespace {

using testing::GraphBuilder;
using testing::N;

Node op_node(OpKind kind, std::size_t operands, DTypeId dtype = DTypeId::F32) {
  Node n;
  n.kind = NodeKind::of_op(kind);
  for (std::size_t i = 0; i < operands; ++i) n.inputs.push_back(InputSource::node(static_cast<NodeId>(i)));
  n.dtype = dtype;
  return n;
}

// Operand i is slot 10 + i with 4(i + 1) bytes; the output is slot 99.
std::vector<BufferRef> refs_for(std::size_t operands) {
  std::vector<BufferRef> r;
  for (std::size_t i = 0; i < operands; ++i) r.push_back(BufferRef{0, 4 * (i + 1), static_cast<std::uint32_t>(10 + i)});
  r.push_back(BufferRef{0, 64, 99});
  return r;
}

NodeAttrs attrs32() {
  NodeAttrs a;
  a.width = 32;
  return a;
}

TEST(Lower, VariantByKind) {
  for (std::uint16_t d = 0; d < kOpKindCount; ++d) {
    const OpKind kind = *op_kind_from_u16(d);
    SCOPED_TRACE(op_kind_name(kind));
    CallKind expect;
    if (d <= 69) {
      expect = static_cast<CallKind>(d);
    } else {
      const CallKind tail[] = {CallKind::Attention, CallKind::FusedSwiglu, CallKind::Pad,   CallKind::Expand,
                               CallKind::Resize,    CallKind::Cumsum,      CallKind::RotaryEmbedding,
                               CallKind::Clip,      CallKind::Lrn,         CallKind::Where, CallKind::Gather,
                               CallKind::Cast,      CallKind::Dequantize,  CallKind::KvCacheWrite};
      expect = tail[d - 70];
    }
    const Node node = op_node(kind, 3, DTypeId::BF16);
    const auto refs = refs_for(3);
    const auto call = lower::lower(refs, ShapeArgs{}, node, attrs32());
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->kind(), expect);
    EXPECT_TRUE(call->well_formed());
    EXPECT_EQ(call_dtype(*call), kind == OpKind::KvCacheWrite ? DTypeId::U8 : DTypeId::BF16);
    EXPECT_EQ(buffers(*call).output(), (BufferRef{0, 64, 99}));
  }
}

TEST(Lower, DecodeAttentionForms) {
  const Node node = op_node(OpKind::Attention, 6);
  const auto refs = refs_for(6);
  ShapeArgs s;
  s.batch = 1;
  s.heads = 8;
  s.kv_heads = 2;
  s.head_dim = 64;
  s.decode_q_rows = 3;
  s.key_rows = 16;
  s.new_rows = 3;
  s.scale_bits = 0x3E000000;
  auto call = lower::lower(refs, s, node, attrs32());
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->kind(), CallKind::DecodeAttention);
  s.valid_len_form = true;
  call = lower::lower(refs, s, node, attrs32());
  ASSERT_TRUE(call.has_value());
  ASSERT_EQ(call->kind(), CallKind::DecodeAttentionValid);
  const auto& c = *call->get_if<DecodeAttentionCall>();
  EXPECT_EQ(c.visibility, refs[5]);
  EXPECT_EQ(c.new_k, refs[3]);
  EXPECT_EQ((std::vector<std::uint32_t>{c.batch, c.heads, c.kv_heads, c.q_rows, c.past_len, c.new_len, c.head_dim,
                                        c.scale}),
            (std::vector<std::uint32_t>{1, 8, 2, 3, 16, 3, 64, 0x3E000000}));

  NodeAttrs causal = attrs32();
  causal.attention = AttentionAttrs{0, 1};
  call = lower::lower(refs, s, node, causal);
  ASSERT_FALSE(call.has_value());
  EXPECT_EQ(call.error().kind, CompileErrorKind::GraphValidation);
  EXPECT_EQ(call.error().message,
            "decode attention (6-input Attention node) carries its visibility in the additive mask operand; "
            "AttentionAttrs::causal must be false — encode causal-within-chunk in the mask.");
  // Five operands are plain attention, causal or not.
  const auto five = refs_for(5);
  call = lower::lower(five, s, op_node(OpKind::Attention, 5), causal);
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->kind(), CallKind::Attention);
}

TEST(Lower, ElementWiseParametersAndMissingOperands) {
  ShapeArgs s;
  s.elements = 12;
  const auto one = refs_for(1);
  auto call = lower::lower(one, s, op_node(OpKind::Add, 1, DTypeId::F16), attrs32());
  ASSERT_TRUE(call.has_value());
  const auto& add = *call->get_if<BinaryCall>();
  EXPECT_EQ(add.a, one[0]);
  EXPECT_EQ(add.b, BufferRef::absent());  // an operand the node lacks is absent, not slot 0
  EXPECT_EQ(add.n, 12u);
  EXPECT_EQ(add.aux, 32u);
  EXPECT_EQ(add.dtype, DTypeId::F16);

  call = lower::lower(one, s, op_node(OpKind::Clip, 1), attrs32());
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->get_if<UnaryCall>()->n, 12u);

  Node other;
  other.kind = NodeKind::graph_input();
  call = lower::lower(one, s, other, attrs32());
  ASSERT_FALSE(call.has_value());
  EXPECT_EQ(call.error().kind, CompileErrorKind::LoweringRefusal);
}

TEST(Lower, NormReferences) {
  const auto refs = refs_for(3);
  ShapeArgs s;
  s.rows = 6;
  s.features = 5;
  s.batch = 2;
  s.per_sample = 15;
  s.channels = 3;
  auto call = lower::lower(refs, s, op_node(OpKind::AddRmsNorm, 3), attrs32());
  const auto& arn = *call->get_if<NormCall>();
  EXPECT_EQ(arn.second, refs[1]);
  EXPECT_EQ(arn.third, BufferRef::absent());
  EXPECT_EQ(arn.fourth, refs[2]);
  EXPECT_EQ(arn.rows, 6u);
  call = lower::lower(refs, s, op_node(OpKind::LayerNorm, 3), attrs32());
  const auto& ln = *call->get_if<NormCall>();
  EXPECT_EQ(ln.third, refs[2]);
  EXPECT_EQ(ln.fourth, BufferRef::absent());
  EXPECT_EQ(ln.features, 5u);
  call = lower::lower(refs, s, op_node(OpKind::GroupNorm, 3), attrs32());
  const auto& gn = *call->get_if<NormCall>();
  EXPECT_EQ((std::vector<std::uint32_t>{gn.rows, gn.features, gn.channels, gn.groups}),
            (std::vector<std::uint32_t>{2, 15, 3, 0}));
}

TEST(Lower, DequantizeAndLrnFields) {
  const auto refs = refs_for(4);
  ShapeArgs s;
  s.elements = 24;
  NodeAttrs a = attrs32();
  a.quant = QuantAttrs{0.25f, -3, 1, 2, WeightLayout::OutputMajor, ActQuant::W8A8TokenSym};
  a.dequant = DequantInputs{6, 1, BufferRef{0, 2048, 40}};
  auto call = lower::lower(refs, s, op_node(OpKind::Dequantize, 4), a);
  ASSERT_TRUE(call.has_value());
  const auto& dq = *call->get_if<DequantizeCall>();
  EXPECT_EQ(dq.q, refs[0]);
  EXPECT_EQ(dq.scales, refs[1]);
  EXPECT_EQ(dq.zero_points, refs[2]);
  EXPECT_EQ(dq.n, 24u);
  EXPECT_EQ(dq.scale_count, 6u);
  EXPECT_EQ(dq.scale_divisor, 1u);
  EXPECT_EQ(dq.codebook, (BufferRef{0, 2048, 40}));
  EXPECT_EQ(dq.quant_dtype, DTypeId::I8);
  EXPECT_EQ(dq.scale, 0x3E800000u);
  EXPECT_EQ(dq.zero_point, -3);
  EXPECT_EQ(dq.weight_layout, 1u);
  EXPECT_EQ(dq.act_quant, 1u);

  call = lower::lower(refs, s, op_node(OpKind::Lrn, 1), attrs32());
  const auto& lrn = *call->get_if<LrnCall>();
  EXPECT_EQ(lrn.size, 1u);
  EXPECT_EQ(lrn.alpha, std::bit_cast<std::uint32_t>(0.0001f));
  EXPECT_EQ(lrn.beta, std::bit_cast<std::uint32_t>(0.75f));
  EXPECT_EQ(lrn.bias, std::bit_cast<std::uint32_t>(1.0f));
}

// ---- completion ----

// Lowers node `id` of the graph with buffers that name slots by node id and
// runs the completion step on it.
CompileResult<KernelCall> lower_and_complete(const Graph& g, NodeId id) {
  const Node& node = g.nodes[id];
  std::vector<BufferRef> refs;
  for (std::size_t i = 0; i < node.inputs.size(); ++i) refs.push_back(BufferRef{0, 0, static_cast<std::uint32_t>(i)});
  refs.push_back(BufferRef{0, 0, id});
  auto args = ShapeArgs::from_graph(g, id, node);
  if (!args) return std::unexpected(args.error());
  auto call = lower::lower(refs, *args, node, NodeAttrs::from_graph(g, id, 32));
  if (!call) return call;
  if (auto r = complete_call(*call, g, id, node); !r) return std::unexpected(r.error());
  return call;
}

void expect_refused(const Graph& g, NodeId id) {
  const auto r = lower_and_complete(g, id);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), CompileError::lowering_refusal());
  EXPECT_TRUE(r.error().message.empty());
}

TEST(Completion, SliceWindow) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({4, 3}));
  const ShapeId one = b.shape({1});
  const NodeId s = b.op(OpKind::Slice, {N(x), b.i64s(one, {1}), b.i64s(one, {3})}, b.shape({2, 3}));
  auto call = lower_and_complete(b.g, s);
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->get_if<LayoutCall>()->input, (BufferRef{12, 24, 0}));
  EXPECT_EQ(call->get_if<LayoutCall>()->n, 6u);

  const NodeId wide = b.op(OpKind::Slice, {N(x), b.i64s(one, {-5}), b.i64s(one, {100})}, 0);  // clamped to 0..4
  call = lower_and_complete(b.g, wide);
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->get_if<LayoutCall>()->input, (BufferRef{0, 48, 0}));

  // 2 operands
  expect_refused(b.g, b.op(OpKind::Slice, {N(x), b.i64s(one, {1})}, 0));
  // start not a constant
  expect_refused(b.g, b.op(OpKind::Slice, {N(x), N(x), b.i64s(one, {3})}, 0));
  // 4-byte start
  expect_refused(b.g, b.op(OpKind::Slice, {N(x), b.f32s(one, {1}), b.i64s(one, {3})}, 0));
  // end < start
  expect_refused(b.g, b.op(OpKind::Slice, {N(x), b.i64s(one, {3}), b.i64s(one, {1})}, 0));
  // a sub-byte element type
  expect_refused(b.g, b.op(OpKind::Slice, {N(x), b.i64s(one, {0}), b.i64s(one, {1})}, 0, DTypeId::I4));
  // rank-0 data
  const NodeId scalar = b.input("s", b.shape({}));
  expect_refused(b.g, b.op(OpKind::Slice, {N(scalar), b.i64s(one, {0}), b.i64s(one, {1})}, 0));
}

TEST(Completion, TransposePermutation) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 3, 4}));
  const ShapeId three = b.shape({3});
  auto call = lower_and_complete(b.g, b.op(OpKind::Transpose, {N(x), b.i64s(three, {2, 0, 1})}, 0));
  ASSERT_TRUE(call.has_value());
  const auto& t = *call->get_if<TransposeCall>();
  EXPECT_EQ(t.rank, 3u);
  EXPECT_EQ((std::vector<std::uint32_t>(t.dims.begin(), t.dims.begin() + 4)), (std::vector<std::uint32_t>{2, 3, 4, 0}));
  EXPECT_EQ((std::vector<std::uint8_t>(t.perm.begin(), t.perm.begin() + 4)), (std::vector<std::uint8_t>{2, 0, 1, 0}));

  expect_refused(b.g, b.op(OpKind::Transpose, {N(x)}, 0));
  expect_refused(b.g, b.op(OpKind::Transpose, {N(x), b.i64s(three, {2, 0, 3})}, 0));
  expect_refused(b.g, b.op(OpKind::Transpose, {N(x), b.i64s(three, {2, 0, -1})}, 0));
  expect_refused(b.g, b.op(OpKind::Transpose, {N(x), b.i64s(three, {1, 0})}, 0));  // too few values
  expect_refused(b.g, b.op(OpKind::Transpose, {N(x), N(x)}, 0));                   // not a constant
}

TEST(Completion, LrnRopeAndNormGroups) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 4, 3, 5}));
  const NodeId lrn = b.op(OpKind::Lrn, {N(x)}, 0);
  b.g.set_lrn_attrs(lrn, LrnAttrs{5, 0.5f, 0.25f, 2.0f});
  auto call = lower_and_complete(b.g, lrn);
  ASSERT_TRUE(call.has_value());
  const auto& l = *call->get_if<LrnCall>();
  EXPECT_EQ((std::vector<std::uint32_t>{l.batch, l.channels, l.spatial, l.size, l.alpha, l.beta, l.bias}),
            (std::vector<std::uint32_t>{2, 4, 15, 5, 0x3F000000, 0x3E800000, 0x40000000}));
  const NodeId v = b.input("v", b.shape({7}));
  expect_refused(b.g, b.op(OpKind::Lrn, {N(v)}, 0));

  call = lower_and_complete(b.g, b.op(OpKind::RotaryEmbedding, {N(x), N(x), N(x)}, 0));
  EXPECT_EQ(call->get_if<RopeCall>()->head_dim, 5u);
  const NodeId scalar = b.input("s", b.shape({}));
  expect_refused(b.g, b.op(OpKind::RotaryEmbedding, {N(scalar)}, 0));

  auto groups = [&](NodeId id) { return lower_and_complete(b.g, id)->get_if<NormCall>()->groups; };
  const NodeId gn_absent = b.op(OpKind::GroupNorm, {N(x)}, 0);
  const NodeId gn_zero = b.op(OpKind::GroupNorm, {N(x)}, 0);
  b.g.set_norm_attrs(gn_zero, NormAttrs{0});
  const NodeId gn_two = b.op(OpKind::GroupNorm, {N(x)}, 0);
  b.g.set_norm_attrs(gn_two, NormAttrs{2});
  EXPECT_EQ(groups(gn_absent), 1u);
  EXPECT_EQ(groups(gn_zero), 1u);
  EXPECT_EQ(groups(gn_two), 2u);
  EXPECT_EQ(groups(b.op(OpKind::InstanceNorm, {N(x)}, 0)), 4u);
  EXPECT_EQ(groups(b.op(OpKind::InstanceNorm, {N(v)}, 0)), 1u);  // no channels
}

TEST(Completion, ExpandAndResize) {
  GraphBuilder b;
  const NodeId row = b.input("row", b.shape({1, 3}));
  auto call = lower_and_complete(b.g, b.op(OpKind::Expand, {N(row)}, b.shape({2, 3})));
  ASSERT_TRUE(call.has_value());
  const auto& e = *call->get_if<ExpandCall>();
  EXPECT_EQ(e.rank, 2u);
  EXPECT_EQ(e.in_dims[0], 1u);
  EXPECT_EQ(e.out_dims[0], 2u);
  EXPECT_EQ(e.in_dims[1], 3u);

  const NodeId full = b.input("full", b.shape({2, 3}));
  expect_refused(b.g, b.op(OpKind::Expand, {N(full)}, b.shape({4, 3})));  // 2 is neither 1 nor 4
  expect_refused(b.g, b.op(OpKind::Expand, {N(row)}, b.shape({1, 1, 3})));
  expect_refused(b.g, b.op(OpKind::Expand, {N(row)}, 999));
  call = lower_and_complete(b.g, b.op(OpKind::Resize, {N(full)}, b.shape({4, 5})));  // any sizes
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->get_if<ExpandCall>()->out_dims[1], 5u);
  expect_refused(b.g, b.op(OpKind::Resize, {N(full)}, b.shape({6})));
  const NodeId scalar = b.input("s", b.shape({}));
  expect_refused(b.g, b.op(OpKind::Resize, {N(scalar)}, b.shape({})));
}

TEST(Completion, ReduceGeometry) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 3, 4}));
  const NodeId r = b.op(OpKind::ReduceSum, {N(x)}, b.shape({2, 1, 1}));
  b.g.set_reduce_attrs(r, ReduceAttrs{6, 1});
  auto call = lower_and_complete(b.g, r);
  ASSERT_TRUE(call.has_value());
  const auto& c = *call->get_if<ReduceCall>();
  EXPECT_EQ(c.n, 24u);
  EXPECT_EQ(c.rank, 3u);
  EXPECT_EQ((std::vector<std::uint32_t>(c.dims.begin(), c.dims.begin() + 4)), (std::vector<std::uint32_t>{2, 3, 4, 0}));
  EXPECT_EQ(c.axes, 6u);
  EXPECT_TRUE(c.keepdims);
  call = lower_and_complete(b.g, b.op(OpKind::ReduceMax, {N(x)}, b.shape({1})));
  EXPECT_EQ(call->get_if<ReduceCall>()->axes, 0u);
  EXPECT_FALSE(call->get_if<ReduceCall>()->keepdims);
  // cumsum has no completion: n stays the result's count, rank 0.
  call = lower_and_complete(b.g, b.op(OpKind::Cumsum, {N(x)}, b.shape({24})));
  EXPECT_EQ(call->get_if<ReduceCall>()->n, 24u);
  EXPECT_EQ(call->get_if<ReduceCall>()->rank, 0u);
}

TEST(Completion, PadWindow) {
  GraphBuilder b;
  const NodeId x = b.input("x", b.shape({2, 3}));
  const ShapeId four = b.shape({4});
  const NodeId pad = b.op(OpKind::Pad, {N(x), b.i64s(four, {1, 0, 5, 0})}, b.shape({8, 3}));
  auto call = lower_and_complete(b.g, pad);
  ASSERT_TRUE(call.has_value());
  const auto& p = *call->get_if<LayoutCall>();
  EXPECT_EQ(p.output, (BufferRef{12, 24, pad}));  // after one padded row of 3 f32
  EXPECT_EQ(p.input.len, 24u);
  // Only the leading pad of axis 0 is read; a short constant leaves the rest unread.
  call = lower_and_complete(b.g, b.op(OpKind::Pad, {N(x), b.i64s(b.shape({1}), {-2})}, 0));
  ASSERT_TRUE(call.has_value());
  EXPECT_EQ(call->get_if<LayoutCall>()->output.offset, 0u);

  expect_refused(b.g, b.op(OpKind::Pad, {N(x)}, 0));
  expect_refused(b.g, b.op(OpKind::Pad, {N(x), b.i64s(four, {0, 1, 0, 0})}, 0));  // before of axis 1
  expect_refused(b.g, b.op(OpKind::Pad, {N(x), b.i64s(four, {0, 0, 0, 2})}, 0));  // after of axis 1
  expect_refused(b.g, b.op(OpKind::Pad, {N(x), b.f32s(b.shape({1}), {1})}, 0));   // 4 bytes
  expect_refused(b.g, b.op(OpKind::Pad, {N(x), N(x)}, 0));
  expect_refused(b.g, b.op(OpKind::Pad, {N(x), b.i64s(four, {1, 0, 0, 0})}, 0, DTypeId::E8cb));
}

TEST(Completion, GatherSizesAndCastSource) {
  GraphBuilder b;
  const NodeId data = b.input("data", b.shape({5, 6, 7}), DTypeId::F16);
  const NodeId idx = b.input("idx", b.shape({3, 2}), DTypeId::I32);
  const NodeId g = b.op(OpKind::Gather, {N(data), N(idx)}, 0, DTypeId::F16);
  b.g.set_gather_attrs(g, GatherAttrs{-2});
  auto call = lower_and_complete(b.g, g);
  ASSERT_TRUE(call.has_value());
  const auto& c = *call->get_if<GatherCall>();
  EXPECT_EQ((std::vector<std::uint64_t>{c.outer, c.axis_len, c.inner, c.index_count}),
            (std::vector<std::uint64_t>{5, 6, 7, 6}));
  EXPECT_EQ(c.index_dtype, DTypeId::I32);
  // No record: axis 0.
  call = lower_and_complete(b.g, b.op(OpKind::Gather, {N(data), N(idx)}, 0));
  EXPECT_EQ(call->get_if<GatherCall>()->outer, 1u);
  EXPECT_EQ(call->get_if<GatherCall>()->inner, 42u);

  const NodeId bad_axis = b.op(OpKind::Gather, {N(data), N(idx)}, 0);
  b.g.set_gather_attrs(bad_axis, GatherAttrs{3});
  expect_refused(b.g, bad_axis);
  expect_refused(b.g, b.op(OpKind::Gather, {N(data)}, 0));
  const NodeId huge = b.input("huge", b.shape({1ull << 40, 1ull << 40}));
  expect_refused(b.g, b.op(OpKind::Gather, {N(data), N(huge)}, 0));  // index count overflows

  call = lower_and_complete(b.g, b.op(OpKind::Cast, {N(idx)}, 0));
  EXPECT_EQ(call->get_if<CastCall>()->src_dtype, DTypeId::I32);
  call = lower_and_complete(b.g, b.op(OpKind::Cast, {b.i64s(b.shape({1}), {1})}, 0));
  EXPECT_EQ(call->get_if<CastCall>()->src_dtype, DTypeId::I64);
  expect_refused(b.g, b.op(OpKind::Cast, {}, 0));
  expect_refused(b.g, b.op(OpKind::Cast, {N(500)}, 0));
}

}  // namespace
}  // namespace tessary
