#include <gtest/gtest.h>

#include <cstdint>
#include <set>

#include "graph/op_kind.h"
#include "ops/op_emitters.h"

namespace tessary {
namespace {

OpKind kind_at(std::uint16_t d) { return *op_kind_from_u16(d); }

constexpr std::uint16_t kInputOp = static_cast<std::uint16_t>(TermOp::Input);

TEST(OpEmitters, InputTermsByKind) {
  const std::set<OpKind> three = {OpKind::Gemm,      OpKind::LayerNorm,       OpKind::RmsNorm,
                                  OpKind::GroupNorm, OpKind::InstanceNorm,    OpKind::Attention,
                                  OpKind::RotaryEmbedding, OpKind::Where,     OpKind::KvCacheWrite};
  const std::set<OpKind> two = {
      OpKind::Add,    OpKind::Sub,     OpKind::Mul,         OpKind::Xor,           OpKind::And,
      OpKind::Or,     OpKind::Div,     OpKind::Pow,         OpKind::Mod,           OpKind::Min,
      OpKind::Max,    OpKind::Equal,   OpKind::Less,        OpKind::LessOrEqual,   OpKind::Greater,
      OpKind::GreaterOrEqual, OpKind::Matmul, OpKind::Conv2d, OpKind::ConvTranspose2d, OpKind::AddRmsNorm,
      OpKind::Concat, OpKind::FusedSwiglu, OpKind::Gather};
  TermArena arena;
  for (std::uint16_t d = 0; d < kOpKindCount; ++d) {
    const OpKind k = kind_at(d);
    SCOPED_TRACE(op_kind_name(k));
    const std::uint8_t expect = three.contains(k) ? 3 : two.contains(k) ? 2 : 1;
    EXPECT_EQ(input_term_count(k), expect);
    ASSERT_TRUE(emit_node_terms(k, 32, arena).has_value());
    for (std::uint8_t i = 0; i < expect; ++i) {
      EXPECT_EQ(arena[i].op, kInputOp);
      EXPECT_EQ(arena[i].imm, i);
    }
  }
}

// Every kind emits at the width every entry point uses, and every term
// reads only earlier terms.
TEST(OpEmitters, EveryKindFitsAtWidth32AndIsAcyclic) {
  TermArena arena;
  for (std::uint16_t d = 0; d < kOpKindCount; ++d) {
    const OpKind k = kind_at(d);
    SCOPED_TRACE(op_kind_name(k));
    ASSERT_TRUE(emit_node_terms(k, 32, arena).has_value());
    ASSERT_LE(arena.size(), TermArena::kCapacity);
    for (std::size_t i = input_term_count(k); i < arena.size(); ++i) {
      EXPECT_LT(arena[i].a, i);
      EXPECT_LT(arena[i].b, i);
      EXPECT_LT(arena[i].c, i);
    }
  }
}

TEST(OpEmitters, PrimitiveCodesAndInputOnlyKinds) {
  struct Case {
    OpKind kind;
    std::uint16_t code;
  };
  const Case primitives[] = {
      {OpKind::Neg, 0},   {OpKind::Bnot, 1},  {OpKind::Succ, 2},  {OpKind::Pred, 3},  {OpKind::Add, 4},
      {OpKind::Sub, 5},   {OpKind::Mul, 6},   {OpKind::Xor, 7},   {OpKind::And, 8},   {OpKind::Or, 9},
      {OpKind::Min, 5},   {OpKind::Max, 5},   {OpKind::Ceil, 8},  {OpKind::Floor, 8}, {OpKind::IsNan, 8},
      {OpKind::Sign, 8},  {OpKind::Where, 6}, {OpKind::Cast, 6},
  };
  TermArena arena;
  for (const Case& c : primitives) {
    SCOPED_TRACE(op_kind_name(c.kind));
    ASSERT_TRUE(emit_node_terms(c.kind, 32, arena).has_value());
    ASSERT_EQ(arena.size(), input_term_count(c.kind) + 1u);
    EXPECT_EQ(arena[arena.size() - 1].op, c.code);
  }
  for (OpKind k : {OpKind::Im2col, OpKind::Col2im, OpKind::Reshape, OpKind::Transpose, OpKind::Concat,
                   OpKind::Slice, OpKind::Pad, OpKind::Expand, OpKind::Gather, OpKind::KvCacheWrite}) {
    SCOPED_TRACE(op_kind_name(k));
    ASSERT_TRUE(emit_node_terms(k, 32, arena).has_value());
    EXPECT_EQ(arena.size(), input_term_count(k));
  }
}

TEST(OpEmitters, ShareEmittersAcrossKinds) {
  // Kinds served by one emitter write the same structure.
  auto terms = [](OpKind k) {
    TermArena a;
    EXPECT_TRUE(emit_node_terms(k, 32, a).has_value());
    return a.size();
  };
  EXPECT_EQ(terms(OpKind::Exp), terms(OpKind::Resize));
  EXPECT_EQ(terms(OpKind::Sin), terms(OpKind::ReduceMax));
  EXPECT_EQ(terms(OpKind::Lrn), terms(OpKind::FusedSwiglu) - 1);  // lrn seeds one input, swiglu two
  EXPECT_EQ(terms(OpKind::GlobalAvgPool), terms(OpKind::ReduceMean));
}

TEST(OpEmitters, WideCompilationsOverflowTheArena) {
  TermArena arena;
  // CORDIC takes three terms per bit of width: 32 fits, 64 does not.
  EXPECT_TRUE(emit_node_terms(OpKind::Sin, 32, arena).has_value());
  EXPECT_FALSE(emit_node_terms(OpKind::Sin, 64, arena).has_value());
  EXPECT_FALSE(emit_node_terms(OpKind::Tan, 40, arena).has_value());
  // Structure grows with the width.
  ASSERT_TRUE(emit_node_terms(OpKind::Exp, 8, arena).has_value());
  const std::size_t narrow = arena.size();
  ASSERT_TRUE(emit_node_terms(OpKind::Exp, 32, arena).has_value());
  EXPECT_GT(arena.size(), narrow);
  // Width-independent kinds fit at any width.
  EXPECT_TRUE(emit_node_terms(OpKind::Relu, 1u << 20, arena).has_value());
  EXPECT_TRUE(emit_node_terms(OpKind::Reshape, 1u << 20, arena).has_value());
}

TEST(TermArena, HoldsExactly128Terms) {
  TermArena arena;
  for (std::size_t i = 0; i < TermArena::kCapacity; ++i) {
    ASSERT_TRUE(arena.push(Term{kInputOp, 0, 0, 0, 0}).has_value());
  }
  EXPECT_EQ(arena.push(Term{kInputOp, 0, 0, 0, 0}), std::unexpected(EmitOverflow{}));
  EXPECT_EQ(arena.size(), 128u);
  // An emitter started on a full arena fails rather than write past it.
  const TermIndex in[] = {0};
  EXPECT_FALSE(emit_relu(arena, in, 32).has_value());
  arena.clear();
  EXPECT_EQ(arena.size(), 0u);
}

}  // namespace
}  // namespace tessary
