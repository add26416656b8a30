#include "compute/kernel_call.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tessary {
namespace {

using Params = std::vector<std::uint8_t>;

Params params_of(const KernelCall& call) {
  const OpSignature sig = op_signature(call);
  auto p = sig.params();
  return Params(p.begin(), p.end());
}

// Little-endian byte strings for exact expectations.
struct Le {
  Params b;
  Le& u8(std::uint8_t v) { return put(&v, 1); }
  Le& u16(std::uint16_t v) { return put(&v, 2); }
  Le& u32(std::uint32_t v) { return put(&v, 4); }
  Le& u64(std::uint64_t v) { return put(&v, 8); }
  Le& put(const void* p, std::size_t n) {
    const auto* c = static_cast<const std::uint8_t*>(p);
    b.insert(b.end(), c, c + n);
    return *this;
  }
};

std::vector<std::uint32_t> slots_of(const CallBuffers& refs) {
  std::vector<std::uint32_t> out;
  for (const BufferRef& r : refs) out.push_back(r.slot);
  return out;
}

constexpr std::uint8_t kF32 = 8;

// ---- The variant table --------------------------------------------------

// The table restated range by range, as the rules of the design give it.
struct Range {
  int first, last;
  RecordKind record;
  int wire_minus_index;  // wire = index + this
  int op_minus_index;    // op = index + this
};

TEST(CallTable, RangesFollowTheVariantRules) {
  const std::vector<Range> ranges = {
      {0, 3, RecordKind::Unary, 1, 0},      {4, 9, RecordKind::Binary, 1, 0},
      {10, 34, RecordKind::Unary, 1, 0},    {35, 44, RecordKind::Binary, 1, 0},
      {51, 55, RecordKind::Norm, -1, -2},   {56, 60, RecordKind::Reduce, -1, -2},
  };
  for (const Range& r : ranges) {
    for (int i = r.first; i <= r.last; ++i) {
      const CallDescriptor& d = call_descriptor(static_cast<CallKind>(i));
      EXPECT_EQ(d.record, r.record) << i;
      EXPECT_EQ(d.wire, i + r.wire_minus_index) << i;
      EXPECT_EQ(d.op, i + r.op_minus_index) << i;
    }
  }
  struct One {
    int index;
    const char* name;
    RecordKind record;
    int wire, op;
  };
  const std::vector<One> singles = {
      {45, "matmul", RecordKind::Matmul, 46, 45},
      {46, "gemm", RecordKind::Gemm, 47, 46},
      {47, "conv2d", RecordKind::Conv, 48, 47},
      {48, "conv_transpose_2d", RecordKind::Conv, 49, 48},
      {49, "im2col", RecordKind::Im2col, 109, 108},
      {50, "col2im", RecordKind::Im2col, 110, 109},
      {61, "reshape", RecordKind::Layout, 60, 59},
      {62, "transpose", RecordKind::Transpose, 61, 60},
      {63, "concat", RecordKind::Binary, 62, 61},
      {64, "slice", RecordKind::Layout, 63, 62},
      {65, "softmax", RecordKind::Softmax, 64, 63},
      {66, "log_softmax", RecordKind::Softmax, 65, 64},
      {67, "max_pool_2d", RecordKind::Pool, 66, 65},
      {68, "avg_pool_2d", RecordKind::Pool, 67, 66},
      {69, "global_avg_pool", RecordKind::Pool, 68, 67},
      {70, "attention", RecordKind::Attention, 69, 68},
      {71, "decode_attention", RecordKind::DecodeAttention, 119, 119},
      {72, "kv_cache_write", RecordKind::KvCacheWrite, 120, 120},
      {73, "decode_attention_valid", RecordKind::DecodeAttention, 121, 121},
      {74, "fused_swiglu", RecordKind::Matmul, 70, 69},
      {75, "pad", RecordKind::Layout, 71, 70},
      {76, "expand", RecordKind::Expand, 72, 71},
      {77, "resize", RecordKind::Expand, 73, 72},
      {78, "cumsum", RecordKind::Reduce, 74, 73},
      {79, "rotary_embedding", RecordKind::Rope, 75, 74},
      {80, "clip", RecordKind::Unary, 76, 75},
      {81, "lrn", RecordKind::Lrn, 77, 76},
      {82, "where", RecordKind::Where, 78, 77},
      {83, "gather", RecordKind::Gather, 114, 114},
      {84, "cast", RecordKind::Cast, 115, 115},
      {85, "dequantize", RecordKind::Dequantize, 105, 104},
      {86, "dequant_activation", RecordKind::DequantActivation, 113, 113},
      {87, "matmul_activation", RecordKind::Matmul, 106, 105},
      {88, "matmul_add", RecordKind::Matmul, 107, 106},
      {89, "matmul_add_activation", RecordKind::Matmul, 108, 107},
      {90, "matmul_dequant", RecordKind::MatmulDequant, 111, 108},
      {91, "broadcast_binary", RecordKind::BroadcastBinary, 112, 112},
  };
  for (const One& o : singles) {
    const CallDescriptor& d = call_descriptor(static_cast<CallKind>(o.index));
    EXPECT_EQ(d.name, o.name);
    EXPECT_EQ(d.record, o.record) << o.name;
    EXPECT_EQ(d.wire, o.wire) << o.name;
    EXPECT_EQ(d.op, o.op) << o.name;
  }
  // Variants 0..70 carry the graph's op-kind names; a few anchors of that list.
  EXPECT_EQ(call_kind_name(CallKind::Neg), "neg");
  EXPECT_EQ(call_kind_name(CallKind::Or), "or");
  EXPECT_EQ(call_kind_name(CallKind::IsNan), "is_nan");
  EXPECT_EQ(call_kind_name(CallKind::GreaterOrEqual), "greater_or_equal");
  EXPECT_EQ(call_kind_name(CallKind::AddRmsNorm), "add_rms_norm");
  EXPECT_EQ(call_kind_name(CallKind::ReduceMax), "reduce_max");
}

TEST(CallTable, NamesAreUniqueAndOutOfRangeKindsAreInvalid) {
  std::set<std::string_view> names;
  for (std::size_t i = 0; i < kCallKindCount; ++i) names.insert(call_kind_name(static_cast<CallKind>(i)));
  EXPECT_EQ(names.size(), kCallKindCount);
  EXPECT_EQ(call_descriptor(static_cast<CallKind>(92)).record, RecordKind::Invalid);
  EXPECT_EQ(call_descriptor(static_cast<CallKind>(255)).record, RecordKind::Invalid);
}

TEST(CallTable, UnorderedVariantsAreExactlyTheSymmetricOnes) {
  std::set<int> unordered;
  for (std::size_t i = 0; i < kCallKindCount; ++i) {
    if (is_unordered(static_cast<CallKind>(i))) unordered.insert(static_cast<int>(i));
  }
  EXPECT_EQ(unordered, (std::set<int>{4, 6, 7, 8, 9, 38, 39, 40}));
}

TEST(CallTable, MatmulEpilogueFieldsBelongToTheFusedVariantsOnly) {
  for (std::size_t i = 0; i < kCallKindCount; ++i) {
    auto k = static_cast<CallKind>(i);
    const CallDescriptor& d = call_descriptor(k);
    EXPECT_EQ(d.has_act, k == CallKind::MatmulActivation || k == CallKind::MatmulAddActivation) << d.name;
    EXPECT_EQ(d.has_addend, k == CallKind::MatmulAdd || k == CallKind::MatmulAddActivation) << d.name;
  }
}

TEST(KernelCall, KindComesFromTheRecordAndMismatchesAreNotWellFormed) {
  KernelCall relu = UnaryCall{.kind = CallKind::Relu};
  EXPECT_EQ(relu.kind(), CallKind::Relu);
  EXPECT_EQ(relu.record_kind(), RecordKind::Unary);
  EXPECT_TRUE(relu.well_formed());
  ASSERT_NE(relu.get_if<UnaryCall>(), nullptr);
  EXPECT_EQ(relu.get_if<BinaryCall>(), nullptr);

  KernelCall gemm = GemmCall{};
  EXPECT_EQ(gemm.kind(), CallKind::Gemm);
  EXPECT_TRUE(gemm.well_formed());

  KernelCall wrong = UnaryCall{.kind = CallKind::Add};
  EXPECT_FALSE(wrong.well_formed());
  KernelCall out_of_range = UnaryCall{.kind = static_cast<CallKind>(200)};
  EXPECT_FALSE(out_of_range.well_formed());
}

TEST(BufferRef, DefaultIsAbsent) {
  EXPECT_FALSE(BufferRef{}.present());
  EXPECT_EQ(BufferRef{}.slot, 0xFFFFFFFFu);
  EXPECT_TRUE(BufferRef::whole(0).present());
  // An optional reference that a record does not set stays absent.
  EXPECT_FALSE(MatmulDequantCall{}.codebook.present());
  EXPECT_FALSE(DequantizeCall{}.codebook.present());
}

// ---- buffers ------------------------------------------------------------

BufferRef at(std::uint32_t slot) { return BufferRef::whole(slot); }

TEST(Buffers, MatmulFamilyPutsTheAddendBeforeTheOutput) {
  MatmulCall mm{.a = at(1), .b = at(2), .output = at(3), .addend = at(4)};
  mm.kind = CallKind::MatmulAdd;
  EXPECT_EQ(slots_of(buffers(mm)), (std::vector<std::uint32_t>{1, 2, 4, 3}));
  mm.kind = CallKind::MatmulAddActivation;
  EXPECT_EQ(slots_of(buffers(mm)), (std::vector<std::uint32_t>{1, 2, 4, 3}));
  mm.kind = CallKind::MatmulActivation;
  EXPECT_EQ(slots_of(buffers(mm)), (std::vector<std::uint32_t>{1, 2, 3}));
  mm.kind = CallKind::Matmul;
  EXPECT_EQ(slots_of(buffers(mm)), (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST(Buffers, DequantizeListsScaleArraysOnlyWhenUsed) {
  DequantizeCall dq{.q = at(1), .scales = at(2), .zero_points = at(3), .output = at(4), .codebook = at(5)};
  dq.scale_count = 0;  // per-tensor: the arrays are not read
  EXPECT_EQ(slots_of(buffers(dq)), (std::vector<std::uint32_t>{1, 4}));
  dq.scale_count = 16;
  EXPECT_EQ(slots_of(buffers(dq)), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  dq.scales = BufferRef::absent();
  EXPECT_EQ(slots_of(buffers(dq)), (std::vector<std::uint32_t>{1, 4}));
}

TEST(Buffers, MatmulDequantOrdersOptionalOperands) {
  MatmulDequantCall md{.a = at(1), .w = at(2), .scales = at(3), .zero_points = at(4), .output = at(5)};
  EXPECT_EQ(slots_of(buffers(md)), (std::vector<std::uint32_t>{1, 2, 5}));
  md.scale_count = 8;
  md.addend = at(6);
  md.codebook = at(7);
  EXPECT_EQ(slots_of(buffers(md)), (std::vector<std::uint32_t>{1, 2, 3, 4, 7, 6, 5}));
  md.scale_count = 0;
  md.codebook = BufferRef::absent();
  EXPECT_EQ(slots_of(buffers(md)), (std::vector<std::uint32_t>{1, 2, 6, 5}));
}

TEST(Buffers, FixedOperandListsInRecordOrder) {
  DecodeAttentionCall da{.q = at(1), .past_k = at(2), .past_v = at(3), .new_k = at(4), .new_v = at(5),
                         .visibility = at(6), .output = at(7)};
  EXPECT_EQ(slots_of(buffers(da)), (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 6, 7}));
  KvCacheWriteCall kv{.cache = at(1), .rows = at(2), .position = at(3), .output = at(4)};
  EXPECT_EQ(slots_of(buffers(kv)), (std::vector<std::uint32_t>{1, 2, 3, 4}));
  GemmCall g{.a = at(1), .b = at(2), .c = BufferRef::absent(), .output = at(4)};
  EXPECT_EQ(slots_of(buffers(g)), (std::vector<std::uint32_t>{1, 2, kSlotNone, 4}));  // kept, consumers skip
  BroadcastBinaryCall bb{.a = at(1), .b = at(2), .output = at(3)};
  EXPECT_EQ(slots_of(buffers(bb)), (std::vector<std::uint32_t>{1, 2, 3}));
  CallBuffers refs = buffers(RopeCall{.x = at(1), .cos = at(2), .sin = at(3), .output = at(4)});
  EXPECT_EQ(refs.output().slot, 4u);
  EXPECT_EQ(refs.inputs().size(), 3u);
}

// Every record, with all optional operands absent, still has an input and
// an output reference.
template <std::size_t... I>
std::vector<KernelCall> every_default_record(std::index_sequence<I...>) {
  return {KernelCall(std::variant_alternative_t<I, CallRecord>{})...};
}

TEST(Buffers, EveryRecordHasAnOutputAndAnInput) {
  auto calls = every_default_record(std::make_index_sequence<std::variant_size_v<CallRecord>>{});
  ASSERT_EQ(calls.size(), 25u);
  for (const KernelCall& c : calls) EXPECT_GE(buffers(c).size(), 2u) << call_kind_name(c.kind());
}

// add_rms_norm reads gamma from the fourth reference; it must count as an
// input, or two calls differing only in gamma would share one label.
TEST(Buffers, AddRmsNormGammaIsAnInput) {
  NormCall n{.kind = CallKind::AddRmsNorm, .x = at(1), .second = at(2), .third = BufferRef::absent(),
             .fourth = at(9), .output = at(5)};
  EXPECT_EQ(slots_of(buffers(n)), (std::vector<std::uint32_t>{1, 2, kSlotNone, 9, 5}));
  NormCall other_gamma = n;
  other_gamma.fourth = at(10);
  EXPECT_NE(slots_of(buffers(n)), slots_of(buffers(other_gamma)));
  // The norms without a fourth operand keep their inputs: the absent
  // reference is skipped by every consumer.
  NormCall ln{.kind = CallKind::LayerNorm, .x = at(1), .second = at(2), .third = at(3), .output = at(5)};
  std::vector<std::uint32_t> present;
  const CallBuffers ln_refs = buffers(ln);
  for (const BufferRef& r : ln_refs.inputs()) {
    if (r.present()) present.push_back(r.slot);
  }
  EXPECT_EQ(present, (std::vector<std::uint32_t>{1, 2, 3}));
}

// ---- call_dtype -----------------------------------------------------------

TEST(CallDtype, RecordDtypeAndKvCacheWriteIsU8) {
  EXPECT_EQ(call_dtype(KvCacheWriteCall{.cache = at(1), .output = at(2), .row_bytes = 4096}), DTypeId::U8);
  EXPECT_EQ(call_dtype(CastCall{.src_dtype = DTypeId::F16, .dtype = DTypeId::BF16}), DTypeId::BF16);
  EXPECT_EQ(call_dtype(GatherCall{.index_dtype = DTypeId::I64, .dtype = DTypeId::F16}), DTypeId::F16);
  EXPECT_EQ(call_dtype(DequantizeCall{.quant_dtype = DTypeId::I8, .dtype = DTypeId::F32}), DTypeId::F32);
  EXPECT_EQ(call_dtype(UnaryCall{.dtype = DTypeId::F64}), DTypeId::F64);
}

// ---- op_signature ---------------------------------------------------------

TEST(OpSignature, ElementwiseAndLayoutFamilies) {
  UnaryCall u{.kind = CallKind::Relu, .input = at(1), .output = at(2), .n = 0x0102030405060708, .aux = 32,
              .dtype = DTypeId::F32};
  OpSignature s = op_signature(u);
  EXPECT_EQ(s.op, 10);
  EXPECT_EQ(params_of(u), Le{}.u64(0x0102030405060708).u16(32).u8(kF32).b);

  BinaryCall b{.kind = CallKind::Sub, .n = 7, .aux = 32, .dtype = DTypeId::F16};
  EXPECT_EQ(op_signature(b).op, 5);
  EXPECT_EQ(params_of(b), Le{}.u64(7).u16(32).u8(6).b);

  LayoutCall l{.kind = CallKind::Slice, .n = 9, .dtype = DTypeId::I32};
  EXPECT_EQ(op_signature(l).op, 62);
  EXPECT_EQ(params_of(l), Le{}.u64(9).u8(4).b);

  SoftmaxCall sm{.kind = CallKind::LogSoftmax, .rows = 3, .cols = 5, .dtype = DTypeId::F32};
  EXPECT_EQ(op_signature(sm).op, 64);
  EXPECT_EQ(params_of(sm), Le{}.u32(3).u32(5).u8(kF32).b);

  // References are not part of the identity.
  UnaryCall moved = u;
  moved.input = at(77);
  EXPECT_EQ(op_signature(moved), op_signature(u));
}

TEST(OpSignature, MatmulIgnoresPackedAndAddendButKeepsAct) {
  MatmulCall mm{.a = at(1), .b = at(2), .output = at(3), .m = 2, .k = 3, .n = 4, .dtype = DTypeId::F32};
  const Params core = Le{}.u32(2).u32(3).u32(4).u8(kF32).b;
  EXPECT_EQ(params_of(mm), core);
  EXPECT_EQ(op_signature(mm).op, 45);
  MatmulCall packed = mm;
  packed.packed = true;
  EXPECT_EQ(op_signature(packed), op_signature(mm));

  MatmulCall add = mm;
  add.kind = CallKind::MatmulAdd;
  add.addend = at(4);
  EXPECT_EQ(params_of(add), core);
  EXPECT_EQ(op_signature(add).op, 106);

  MatmulCall act = mm;
  act.kind = CallKind::MatmulActivation;
  act.act = 3;
  Params with_act = core;
  with_act.push_back(3);
  EXPECT_EQ(params_of(act), with_act);
  EXPECT_EQ(op_signature(act).op, 105);
  act.kind = CallKind::MatmulAddActivation;
  EXPECT_EQ(params_of(act), with_act);
  EXPECT_EQ(op_signature(act).op, 107);
}

TEST(OpSignature, TransposeInterleavesDimAndPermBelowRank) {
  TransposeCall t{.rank = 3, .dims = {2, 3, 4, 99, 99, 99, 99, 99}, .perm = {2, 0, 1, 7, 7, 7, 7, 7},
                  .dtype = DTypeId::F32};
  EXPECT_EQ(op_signature(t).op, 60);
  EXPECT_EQ(params_of(t), Le{}.u8(3).u8(kF32).u32(2).u8(2).u32(3).u8(0).u32(4).u8(1).b);
  // A rank byte above 8 (stored as read from an archive) stops at the eight
  // stored entries.
  t.rank = 200;
  EXPECT_EQ(op_signature(t).len(), 2u + 8 * 5);
}

TEST(OpSignature, ReduceTakesRankDimsInRecordOrder) {
  ReduceCall r{.kind = CallKind::ReduceSum, .n = 24, .rank = 0, .axes = 0b101, .keepdims = true,
               .dtype = DTypeId::F32, .dims = {2, 3, 4}};
  EXPECT_EQ(op_signature(r).len(), 15u);
  EXPECT_EQ(op_signature(r).op, 54);
  r.rank = 3;
  EXPECT_EQ(params_of(r), Le{}.u64(24).u8(3).u32(0b101).u8(1).u8(kF32).u32(2).u32(3).u32(4).b);
  EXPECT_EQ(op_signature(r).len(), 27u);
}

// Rank 8 needs more than the 64 inline bytes; every byte is kept, so calls
// differing only in their last axis keep distinct identities.
TEST(OpSignature, RankEightExpandAndBroadcastKeepEveryByte) {
  ExpandCall e{.kind = CallKind::Resize, .rank = 8, .in_dims = {1, 2, 3, 4, 5, 6, 7, 8},
               .out_dims = {11, 12, 13, 14, 15, 16, 17, 18}, .dtype = DTypeId::F32};
  Le want;
  want.u8(8).u8(kF32);
  for (int i = 0; i < 8; ++i) want.u32(e.in_dims[i]).u32(e.out_dims[i]);
  EXPECT_EQ(params_of(e), want.b);
  EXPECT_EQ(op_signature(e).len(), 66u);
  EXPECT_EQ(op_signature(e).op, 72);
  ExpandCall last_axis = e;
  last_axis.out_dims[7] = 19;
  EXPECT_NE(op_signature(last_axis), op_signature(e));

  BroadcastBinaryCall bb{.rank = 8, .op = 1, .order = true, .dtype = DTypeId::BF16,
                         .in_dims = {1, 1, 1, 1, 1, 1, 1, 1}, .out_dims = {2, 2, 2, 2, 2, 2, 2, 2}};
  Le want_bb;
  want_bb.u8(8).u8(1).u8(1).u8(7);
  for (int i = 0; i < 8; ++i) want_bb.u32(1).u32(2);
  EXPECT_EQ(params_of(bb), want_bb.b);
  EXPECT_EQ(op_signature(bb).op, 112);
  BroadcastBinaryCall bb2 = bb;
  bb2.in_dims[7] = 2;
  EXPECT_NE(op_signature(bb2), op_signature(bb));
}

TEST(OpSignature, RopeStartsWithN) {
  RopeCall r{.head_dim = 2, .n = 1, .dtype = DTypeId::F32};
  EXPECT_EQ(params_of(r), Le{}.u64(1).u32(2).u8(kF32).b);
  EXPECT_EQ(op_signature(r).op, 74);
}

TEST(OpSignature, KvCacheWriteIsItsFourSizes) {
  KvCacheWriteCall kv{.groups = 1, .bucket_rows = 2, .new_rows = 3, .row_bytes = 4};
  EXPECT_EQ(params_of(kv), Le{}.u32(1).u32(2).u32(3).u32(4).b);
  EXPECT_EQ(op_signature(kv).op, 120);
}

TEST(OpSignature, DequantizeEndsWithScaleArrayFlagAndSkipsExtension) {
  DequantizeCall dq{.q = at(1), .scales = at(2), .zero_points = at(3), .output = at(4), .n = 64,
                    .scale_count = 4, .scale_divisor = 16, .quant_dtype = DTypeId::I8, .dtype = DTypeId::F32,
                    .scale = 0x3f800000, .zero_point = -3};
  const Params base = Le{}.u64(64).u32(4).u32(16).u8(2).u8(kF32).u32(0x3f800000).u32(0xFFFFFFFD).b;
  Params with_arrays = base;
  with_arrays.push_back(1);
  EXPECT_EQ(params_of(dq), with_arrays);
  EXPECT_EQ(op_signature(dq).op, 104);
  EXPECT_EQ(op_signature(dq).len(), 27u);

  DequantizeCall ext = dq;
  ext.weight_layout = 1;
  ext.act_quant = 1;
  ext.codebook = at(9);
  EXPECT_EQ(op_signature(ext), op_signature(dq));

  dq.scales = BufferRef::absent();
  Params without = base;
  without.push_back(0);
  EXPECT_EQ(params_of(dq), without);
}

TEST(OpSignature, MatmulDequantFormsChooseTheirOp) {
  MatmulDequantCall md{.a = at(1), .w = at(2), .output = at(5), .m = 1, .k = 64, .n = 32, .scale_count = 32,
                       .scale_divisor = 1, .quant_dtype = DTypeId::I8, .dtype = DTypeId::F32,
                       .scale = 0x3f000000, .zero_point = 5};
  const Params base = Le{}.u32(1).u32(64).u32(32).u32(32).u32(1).u8(2).u8(kF32).u32(0x3f000000).u32(5).b;

  EXPECT_EQ(op_signature(md).op, 108);
  EXPECT_EQ(params_of(md), base);

  // weight_layout is not part of the identity.
  MatmulDequantCall layout_only = md;
  layout_only.weight_layout = 1;
  EXPECT_EQ(op_signature(layout_only), op_signature(md));

  MatmulDequantCall with_act = md;
  with_act.act = 2;
  Params b116 = base;
  b116.insert(b116.end(), {0, 2, 0});
  EXPECT_EQ(op_signature(with_act).op, 116);
  EXPECT_EQ(params_of(with_act), b116);

  MatmulDequantCall with_addend = md;
  with_addend.addend = at(6);
  EXPECT_EQ(op_signature(with_addend).op, 116);
  EXPECT_EQ(op_signature(with_addend).len(), 33u);
  EXPECT_EQ(params_of(with_addend).back(), 1);

  MatmulDequantCall vq = md;
  vq.codebook = at(7);
  vq.act_quant = 1;
  Params b117 = base;
  b117.insert(b117.end(), {1, 0, 0, 1});
  EXPECT_EQ(op_signature(vq).op, 117);
  EXPECT_EQ(op_signature(vq).len(), 34u);
  EXPECT_EQ(params_of(vq), b117);
}

// im2col shares op 108 with the plain matmul_dequant; the parameter lengths
// keep their labels apart.
TEST(OpSignature, SharedOpValueHasDistinctLengths) {
  EXPECT_EQ(op_signature(Im2colCall{}).op, 108);
  EXPECT_EQ(op_signature(MatmulDequantCall{}).op, 108);
  EXPECT_EQ(op_signature(Im2colCall{}).len(), 37u);
  EXPECT_EQ(op_signature(MatmulDequantCall{}).len(), 30u);
}

// Parameter lengths of every record: its non-reference fields, with the
// listed exceptions.
TEST(OpSignature, ParameterLengthsPerRecord) {
  struct Case {
    KernelCall call;
    std::size_t len;
  };
  const std::vector<Case> cases = {
      {GemmCall{}, 29},
      {ConvCall{}, 53},
      {NormCall{}, 25},
      {PoolCall{}, 41},
      {AttentionCall{}, 26},
      {DecodeAttentionCall{}, 33},
      {LrnCall{}, 29},
      {WhereCall{}, 9},
      {GatherCall{}, 34},
      {CastCall{}, 10},
      {DequantActivationCall{}, 19},
      {ExpandCall{.rank = 2}, 18},
      {BroadcastBinaryCall{.rank = 2}, 20},
      {TransposeCall{.rank = 1}, 7},
  };
  for (const Case& c : cases) EXPECT_EQ(op_signature(c.call).len(), c.len) << call_kind_name(c.call.kind());
}

TEST(OpSignature, ExactBytesOfFixedFamilies) {
  GemmCall g{.m = 1, .k = 2, .n = 3, .alpha = 0x3f800000, .beta = 0x40000000, .dtype = DTypeId::F32};
  EXPECT_EQ(params_of(g), Le{}.u32(1).u32(2).u32(3).u64(0x3f800000).u64(0x40000000).u8(kF32).b);
  AttentionCall a{.batch = 1, .heads = 8, .seq = 4, .head_dim = 64, .kv_heads = 2, .causal = true,
                  .scale = 0x3e000000, .dtype = DTypeId::F32};
  EXPECT_EQ(params_of(a), Le{}.u32(1).u32(8).u32(4).u32(64).u32(2).u8(1).u32(0x3e000000).u8(kF32).b);
  GatherCall ga{.outer = 1, .axis_len = 2, .inner = 3, .index_count = 4, .index_dtype = DTypeId::I64,
                .dtype = DTypeId::F16};
  EXPECT_EQ(params_of(ga), Le{}.u64(1).u64(2).u64(3).u64(4).u8(5).u8(6).b);
  DequantActivationCall da{.n = 10, .quant_dtype = DTypeId::U8, .table = 3, .dtype = DTypeId::F32,
                           .scale = 0x3c000000, .zero_point = 128};
  EXPECT_EQ(params_of(da), Le{}.u64(10).u8(1).u8(3).u8(kF32).u32(0x3c000000).u32(128).b);
  NormCall nm{.kind = CallKind::GroupNorm, .rows = 2, .features = 3, .channels = 4, .groups = 5,
              .epsilon = 0x3727c5ac, .dtype = DTypeId::F32};
  EXPECT_EQ(op_signature(nm).op, 51);
  EXPECT_EQ(params_of(nm), Le{}.u32(2).u32(3).u32(4).u32(5).u64(0x3727c5ac).u8(kF32).b);
}

// ---- Pb -----------------------------------------------------------------

TEST(Pb, SpillsPastInlineStorageWithoutLosingBytes) {
  Pb pb;
  for (std::uint8_t i = 0; i < 60; ++i) pb.u8(i);
  EXPECT_FALSE(pb.spilled());
  pb.u64(0x0807060504030201);  // crosses the 64-byte boundary
  EXPECT_TRUE(pb.spilled());
  pb.u32(0xAABBCCDD);
  ASSERT_EQ(pb.len(), 72u);
  auto b = pb.bytes();
  ASSERT_EQ(b.size(), 72u);
  for (std::uint8_t i = 0; i < 60; ++i) EXPECT_EQ(b[i], i);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(b[60 + i], i + 1);
  EXPECT_EQ(b[68], 0xDD);
  EXPECT_EQ(b[71], 0xAA);

  Pb exact;
  for (int i = 0; i < 8; ++i) exact.u64(0);
  EXPECT_FALSE(exact.spilled());  // exactly 64 bytes fit inline
  EXPECT_EQ(exact.len(), 64u);
}

}  // namespace
}  // namespace tessary
