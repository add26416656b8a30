#include "archive/calls_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "compute/overloaded.h"

namespace tessary {
namespace {

// ---- Sample calls ---------------------------------------------------------

// Hands out distinct non-zero values so that a field written in the wrong
// place, or not at all, shows up in the comparisons.
struct Seq {
  std::uint32_t next = 1;
  std::uint32_t u32() { return 0x01010000u + next++; }
  std::uint64_t u64() { return 0x0101010100000000ull + next++; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(0x100 + next++); }
  std::uint8_t u8() { return static_cast<std::uint8_t>(next++); }
  DTypeId dt() { return static_cast<DTypeId>(next++ % 12); }
  BufferRef ref() {
    std::uint32_t s = next++;
    return BufferRef{0x1000ull * s + 1, 0x10ull * s + 2, s};
  }
  std::array<std::uint32_t, 8> dims() {
    std::array<std::uint32_t, 8> d{};
    for (auto& v : d) v = u32();
    return d;
  }
};

// One representative call of a variant, every field set (optional fields
// only where the variant's default form carries them).
KernelCall sample(CallKind k) {
  Seq s;
  switch (call_descriptor(k).record) {
    case RecordKind::Unary:
      return UnaryCall{.kind = k, .input = s.ref(), .output = s.ref(), .n = s.u64(), .aux = s.u16(), .dtype = s.dt()};
    case RecordKind::Binary:
      return BinaryCall{
          .kind = k, .a = s.ref(), .b = s.ref(), .output = s.ref(), .n = s.u64(), .aux = s.u16(), .dtype = s.dt()};
    case RecordKind::Matmul: {
      MatmulCall r{.kind = k, .a = s.ref(), .b = s.ref(), .output = s.ref(), .m = s.u32(), .k = s.u32(),
                   .n = s.u32(), .dtype = s.dt(), .packed = true};
      if (call_descriptor(k).has_addend) r.addend = s.ref();
      if (call_descriptor(k).has_act) r.act = s.u8();
      return r;
    }
    case RecordKind::Gemm:
      return GemmCall{.a = s.ref(), .b = s.ref(), .c = s.ref(), .output = s.ref(), .m = s.u32(), .k = s.u32(),
                      .n = s.u32(), .alpha = s.u64(), .beta = s.u64(), .dtype = s.dt()};
    case RecordKind::Conv:
      return ConvCall{.kind = k, .input = s.ref(), .weight = s.ref(), .output = s.ref(), .batch = s.u32(),
                      .cin = s.u32(), .cout = s.u32(), .h = s.u32(), .w = s.u32(), .oh = s.u32(), .ow = s.u32(),
                      .kh = s.u32(), .kw = s.u32(), .stride_h = s.u32(), .stride_w = s.u32(), .pad_h = s.u32(),
                      .pad_w = s.u32(), .dtype = s.dt()};
    case RecordKind::Im2col:
      return Im2colCall{.kind = k, .input = s.ref(), .output = s.ref(), .planes = s.u32(), .h = s.u32(),
                        .w = s.u32(), .oh = s.u32(), .ow = s.u32(), .kh = s.u32(), .kw = s.u32(),
                        .stride_h = s.u32(), .stride_w = s.u32(), .dtype = s.dt()};
    case RecordKind::Norm:
      return NormCall{.kind = k, .x = s.ref(), .second = s.ref(), .third = s.ref(), .fourth = s.ref(),
                      .output = s.ref(), .rows = s.u32(), .features = s.u32(), .channels = s.u32(),
                      .groups = s.u32(), .epsilon = s.u64(), .dtype = s.dt()};
    case RecordKind::Reduce:
      return ReduceCall{.kind = k, .input = s.ref(), .output = s.ref(), .n = s.u64(), .rank = 3, .axes = s.u32(),
                        .keepdims = true, .dtype = s.dt(), .dims = {s.u32(), s.u32(), s.u32()}};
    case RecordKind::Layout:
      return LayoutCall{.kind = k, .input = s.ref(), .output = s.ref(), .n = s.u64(), .dtype = s.dt()};
    case RecordKind::Transpose:
      // Entries past the rank are stored too.
      return TransposeCall{.input = s.ref(), .output = s.ref(), .rank = 3, .dims = s.dims(),
                           .perm = {2, 0, 1, 9, 8, 7, 6, 5}, .dtype = s.dt()};
    case RecordKind::Softmax:
      return SoftmaxCall{
          .kind = k, .input = s.ref(), .output = s.ref(), .rows = s.u32(), .cols = s.u32(), .dtype = s.dt()};
    case RecordKind::Pool:
      return PoolCall{.kind = k, .input = s.ref(), .output = s.ref(), .batch = s.u32(), .channels = s.u32(),
                      .h = s.u32(), .w = s.u32(), .oh = s.u32(), .ow = s.u32(), .kh = s.u32(), .kw = s.u32(),
                      .stride_h = s.u32(), .stride_w = s.u32(), .dtype = s.dt()};
    case RecordKind::Attention:
      return AttentionCall{.q = s.ref(), .k = s.ref(), .v = s.ref(), .output = s.ref(), .batch = s.u32(),
                           .heads = s.u32(), .seq = s.u32(), .head_dim = s.u32(), .kv_heads = s.u32(),
                           .causal = true, .scale = s.u32(), .dtype = s.dt()};
    case RecordKind::DecodeAttention:
      return DecodeAttentionCall{.kind = k, .q = s.ref(), .past_k = s.ref(), .past_v = s.ref(), .new_k = s.ref(),
                                 .new_v = s.ref(), .visibility = s.ref(), .output = s.ref(), .batch = s.u32(),
                                 .heads = s.u32(), .kv_heads = s.u32(), .q_rows = s.u32(), .past_len = s.u32(),
                                 .new_len = s.u32(), .head_dim = s.u32(), .scale = s.u32(), .dtype = s.dt()};
    case RecordKind::KvCacheWrite:
      return KvCacheWriteCall{.cache = s.ref(), .rows = s.ref(), .position = s.ref(), .output = s.ref(),
                              .groups = s.u32(), .bucket_rows = s.u32(), .new_rows = s.u32(), .row_bytes = s.u32()};
    case RecordKind::Expand:
      return ExpandCall{.kind = k, .input = s.ref(), .output = s.ref(), .rank = 2, .in_dims = s.dims(),
                        .out_dims = s.dims(), .dtype = s.dt()};
    case RecordKind::Rope:
      return RopeCall{.x = s.ref(), .cos = s.ref(), .sin = s.ref(), .output = s.ref(), .head_dim = s.u32(),
                      .n = s.u64(), .dtype = s.dt()};
    case RecordKind::Lrn:
      return LrnCall{.input = s.ref(), .output = s.ref(), .batch = s.u32(), .channels = s.u32(),
                     .spatial = s.u32(), .size = s.u32(), .alpha = s.u32(), .beta = s.u32(), .bias = s.u32(),
                     .dtype = s.dt()};
    case RecordKind::Where:
      return WhereCall{
          .cond = s.ref(), .x = s.ref(), .y = s.ref(), .output = s.ref(), .n = s.u64(), .dtype = s.dt()};
    case RecordKind::Gather:
      return GatherCall{.data = s.ref(), .indices = s.ref(), .output = s.ref(), .outer = s.u64(),
                        .axis_len = s.u64(), .inner = s.u64(), .index_count = s.u64(), .index_dtype = s.dt(),
                        .dtype = s.dt()};
    case RecordKind::Cast:
      return CastCall{.input = s.ref(), .output = s.ref(), .n = s.u64(), .src_dtype = s.dt(), .dtype = s.dt()};
    case RecordKind::Dequantize:
      return DequantizeCall{.q = s.ref(), .scales = s.ref(), .zero_points = s.ref(), .output = s.ref(),
                            .n = s.u64(), .scale_count = s.u32(), .scale_divisor = s.u32(),
                            .quant_dtype = s.dt(), .dtype = s.dt(), .scale = s.u32(), .zero_point = -7};
    case RecordKind::DequantActivation:
      return DequantActivationCall{.input = s.ref(), .output = s.ref(), .n = s.u64(), .quant_dtype = s.dt(),
                                   .table = s.u8(), .dtype = s.dt(), .scale = s.u32(), .zero_point = -9};
    case RecordKind::MatmulDequant:
      return MatmulDequantCall{.a = s.ref(), .w = s.ref(), .scales = s.ref(), .zero_points = s.ref(),
                               .output = s.ref(), .m = s.u32(), .k = s.u32(), .n = s.u32(),
                               .scale_count = s.u32(), .scale_divisor = s.u32(), .quant_dtype = s.dt(),
                               .dtype = s.dt(), .scale = s.u32(), .zero_point = -11};
    case RecordKind::BroadcastBinary:
      return BroadcastBinaryCall{.a = s.ref(), .b = s.ref(), .output = s.ref(), .rank = 2, .op = 1,
                                 .order = true, .dtype = s.dt(), .in_dims = {s.u32(), 1}, .out_dims = {s.u32(), s.u32()}};
    case RecordKind::Invalid: break;
  }
  ADD_FAILURE() << "no sample for kind " << static_cast<int>(k);
  return UnaryCall{};
}

// The forms with optional fields set, besides the default forms above.
std::vector<KernelCall> optional_forms() {
  std::vector<KernelCall> out;
  auto dq = *sample(CallKind::Dequantize).get_if<DequantizeCall>();
  dq.weight_layout = 1;
  dq.act_quant = 1;
  dq.codebook = BufferRef{5, 6, 7};
  out.push_back(dq);
  dq.codebook = BufferRef::absent();  // extension without a codebook
  out.push_back(dq);

  auto md = *sample(CallKind::MatmulDequant).get_if<MatmulDequantCall>();
  md.weight_layout = 1;
  md.act_quant = 1;
  md.act = 3;
  md.addend = BufferRef{8, 9, 10};
  out.push_back(md);  // form 116
  md.codebook = BufferRef{11, 12, 13};
  out.push_back(md);  // form 117 with an addend
  md.addend = BufferRef::absent();
  out.push_back(md);  // form 117, the absent addend written as it stands

  auto bb = *sample(CallKind::BroadcastBinary).get_if<BroadcastBinaryCall>();
  bb.rank = 8;
  bb.in_dims = {1, 2, 3, 4, 5, 6, 7, 8};
  bb.out_dims = {9, 10, 11, 12, 13, 14, 15, 16};
  out.push_back(bb);
  auto red = *sample(CallKind::ReduceMean).get_if<ReduceCall>();
  red.rank = 0;
  red.dims = {};
  out.push_back(red);
  red.rank = 8;
  red.dims = {1, 2, 3, 4, 5, 6, 7, 8};
  out.push_back(red);
  return out;
}

std::vector<KernelCall> every_sample() {
  std::vector<KernelCall> calls;
  for (std::size_t i = 0; i < kCallKindCount; ++i) calls.push_back(sample(static_cast<CallKind>(i)));
  for (auto& c : optional_forms()) calls.push_back(c);
  return calls;
}

Bytes encode_ok(std::span<const KernelCall> calls) {
  auto bytes = encode_calls(calls);
  EXPECT_TRUE(bytes.has_value()) << (bytes ? "" : bytes.error().describe());
  return bytes ? *bytes : Bytes{};
}

Bytes encode_one(const KernelCall& call) { return encode_ok(std::span<const KernelCall>(&call, 1)); }

// ---- Independent writer of the record layouts -----------------------------

// Builds each record field by field from the layout table, apart from the
// library's encoder.
struct Golden {
  ByteWriter w;
  void ref(const BufferRef& r) {
    w.u32(r.slot);
    w.u64(r.offset);
    w.u64(r.len);
  }
  void dt(DTypeId t) { w.u8(static_cast<std::uint8_t>(t)); }
};

Bytes golden(const KernelCall& call) {
  Golden g;
  ByteWriter& w = g.w;
  const std::uint16_t wire = call.descriptor().wire;
  std::visit(
      Overloaded{
          [&](const UnaryCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output), w.u64(r.n), w.u16(r.aux), g.dt(r.dtype);
          },
          [&](const BinaryCall& r) {
            w.u16(wire), g.ref(r.a), g.ref(r.b), g.ref(r.output), w.u64(r.n), w.u16(r.aux), g.dt(r.dtype);
          },
          [&](const MatmulCall& r) {
            w.u16(wire), g.ref(r.a), g.ref(r.b), g.ref(r.output), w.u32(r.m), w.u32(r.k), w.u32(r.n);
            g.dt(r.dtype), w.u8(r.packed);
            if (r.kind == CallKind::MatmulActivation) w.u8(r.act);
            if (r.kind == CallKind::MatmulAdd) g.ref(r.addend);
            if (r.kind == CallKind::MatmulAddActivation) g.ref(r.addend), w.u8(r.act);
          },
          [&](const GemmCall& r) {
            w.u16(wire), g.ref(r.a), g.ref(r.b), g.ref(r.c), g.ref(r.output), w.u32(r.m), w.u32(r.k), w.u32(r.n);
            w.u64(r.alpha), w.u64(r.beta), g.dt(r.dtype);
          },
          [&](const ConvCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.weight), g.ref(r.output);
            for (auto v : {r.batch, r.cin, r.cout, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w, r.pad_h,
                           r.pad_w}) {
              w.u32(v);
            }
            g.dt(r.dtype);
          },
          [&](const Im2colCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output);
            for (auto v : {r.planes, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w}) w.u32(v);
            g.dt(r.dtype);
          },
          [&](const NormCall& r) {
            w.u16(wire), g.ref(r.x), g.ref(r.second), g.ref(r.third), g.ref(r.fourth), g.ref(r.output);
            w.u32(r.rows), w.u32(r.features), w.u32(r.channels), w.u32(r.groups), w.u64(r.epsilon), g.dt(r.dtype);
          },
          [&](const ReduceCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output), w.u64(r.n), w.u8(r.rank), w.u32(r.axes);
            w.u8(r.keepdims), g.dt(r.dtype);
            for (int i = 0; i < r.rank; ++i) w.u32(r.dims[i]);
          },
          [&](const LayoutCall& r) { w.u16(wire), g.ref(r.input), g.ref(r.output), w.u64(r.n), g.dt(r.dtype); },
          [&](const TransposeCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output), w.u8(r.rank);
            for (auto v : r.dims) w.u32(v);
            for (auto v : r.perm) w.u8(v);
            g.dt(r.dtype);
          },
          [&](const SoftmaxCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output), w.u32(r.rows), w.u32(r.cols), g.dt(r.dtype);
          },
          [&](const PoolCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output);
            for (auto v : {r.batch, r.channels, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w}) w.u32(v);
            g.dt(r.dtype);
          },
          [&](const AttentionCall& r) {
            w.u16(wire), g.ref(r.q), g.ref(r.k), g.ref(r.v), g.ref(r.output);
            for (auto v : {r.batch, r.heads, r.seq, r.head_dim, r.kv_heads}) w.u32(v);
            w.u8(r.causal), w.u32(r.scale), g.dt(r.dtype);
          },
          [&](const DecodeAttentionCall& r) {
            w.u16(wire);
            for (const auto& b : {r.q, r.past_k, r.past_v, r.new_k, r.new_v, r.visibility, r.output}) g.ref(b);
            for (auto v : {r.batch, r.heads, r.kv_heads, r.q_rows, r.past_len, r.new_len, r.head_dim, r.scale}) {
              w.u32(v);
            }
            g.dt(r.dtype);
          },
          [&](const KvCacheWriteCall& r) {
            w.u16(wire), g.ref(r.cache), g.ref(r.rows), g.ref(r.position), g.ref(r.output);
            w.u32(r.groups), w.u32(r.bucket_rows), w.u32(r.new_rows), w.u32(r.row_bytes);
          },
          [&](const ExpandCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output), w.u8(r.rank);
            for (auto v : r.in_dims) w.u32(v);
            for (auto v : r.out_dims) w.u32(v);
            g.dt(r.dtype);
          },
          [&](const RopeCall& r) {
            w.u16(wire), g.ref(r.x), g.ref(r.cos), g.ref(r.sin), g.ref(r.output), w.u32(r.head_dim), w.u64(r.n);
            g.dt(r.dtype);
          },
          [&](const LrnCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output);
            for (auto v : {r.batch, r.channels, r.spatial, r.size, r.alpha, r.beta, r.bias}) w.u32(v);
            g.dt(r.dtype);
          },
          [&](const WhereCall& r) {
            w.u16(wire), g.ref(r.cond), g.ref(r.x), g.ref(r.y), g.ref(r.output), w.u64(r.n), g.dt(r.dtype);
          },
          [&](const GatherCall& r) {
            w.u16(wire), g.ref(r.data), g.ref(r.indices), g.ref(r.output);
            w.u64(r.outer), w.u64(r.axis_len), w.u64(r.inner), w.u64(r.index_count);
            g.dt(r.index_dtype), g.dt(r.dtype);
          },
          [&](const CastCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output), w.u64(r.n), g.dt(r.src_dtype), g.dt(r.dtype);
          },
          [&](const DequantizeCall& r) {
            const bool ext = r.weight_layout != 0 || r.act_quant != 0 || r.codebook.present();
            w.u16(ext ? 118 : 105), g.ref(r.q), g.ref(r.scales), g.ref(r.zero_points), g.ref(r.output);
            w.u64(r.n), w.u32(r.scale_count), w.u32(r.scale_divisor), g.dt(r.quant_dtype), g.dt(r.dtype);
            w.u32(r.scale), w.u32(static_cast<std::uint32_t>(r.zero_point));
            if (ext) w.u8(r.weight_layout), w.u8(r.act_quant), g.ref(r.codebook);
          },
          [&](const DequantActivationCall& r) {
            w.u16(wire), g.ref(r.input), g.ref(r.output), w.u64(r.n), g.dt(r.quant_dtype), w.u8(r.table);
            g.dt(r.dtype), w.u32(r.scale), w.u32(static_cast<std::uint32_t>(r.zero_point));
          },
          [&](const MatmulDequantCall& r) {
            const bool vq = r.codebook.present();
            const bool plain = !vq && r.weight_layout == 0 && r.act_quant == 0 && r.act == 0 && !r.addend.present();
            w.u16(vq ? 117 : plain ? 111 : 116);
            g.ref(r.a), g.ref(r.w), g.ref(r.scales), g.ref(r.zero_points), g.ref(r.output);
            for (auto v : {r.m, r.k, r.n, r.scale_count, r.scale_divisor}) w.u32(v);
            g.dt(r.quant_dtype), g.dt(r.dtype), w.u32(r.scale), w.u32(static_cast<std::uint32_t>(r.zero_point));
            if (!plain) w.u8(r.weight_layout), w.u8(r.act_quant), w.u8(r.act), g.ref(r.addend);
            if (vq) g.ref(r.codebook);
          },
          [&](const BroadcastBinaryCall& r) {
            w.u16(wire), g.ref(r.a), g.ref(r.b), g.ref(r.output), w.u8(r.rank), w.u8(r.op), w.u8(r.order);
            g.dt(r.dtype);
            for (int i = 0; i < r.rank; ++i) w.u32(r.in_dims[i]), w.u32(r.out_dims[i]);
          },
      },
      call.record());
  return w.take();
}

// ---- Round trip and layout ------------------------------------------------

TEST(CallsCodec, EveryVariantMatchesTheRecordLayoutAndRoundTrips) {
  for (const KernelCall& call : every_sample()) {
    SCOPED_TRACE(std::string(call_kind_name(call.kind())));
    Bytes bytes = encode_one(call);
    Bytes want{1, 0, 0, 0};
    Bytes rec = golden(call);
    want.insert(want.end(), rec.begin(), rec.end());
    EXPECT_EQ(bytes, want);

    auto back = decode_calls(bytes);
    ASSERT_TRUE(back.has_value()) << back.error().describe();
    ASSERT_EQ(back->size(), 1u);
    EXPECT_EQ((*back)[0], call);
    EXPECT_EQ(encode_ok(*back), bytes);
  }
}

TEST(CallsCodec, WholeListRoundTripsInOrder) {
  std::vector<KernelCall> calls = every_sample();
  Bytes bytes = encode_ok(calls);
  EXPECT_EQ(load_le32(bytes.data()), calls.size());
  auto back = decode_calls(bytes);
  ASSERT_TRUE(back.has_value()) << back.error().describe();
  EXPECT_EQ(*back, calls);
  EXPECT_EQ(encode_ok(*back), bytes);
}

// Record sizes as the layout table lists them, discriminant bytes excluded.
std::size_t record_bytes(std::uint16_t wire, std::uint8_t rank) {
  if ((wire >= 1 && wire <= 4) || (wire >= 11 && wire <= 35) || wire == 76) return 51;
  if ((wire >= 5 && wire <= 10) || (wire >= 36 && wire <= 45) || wire == 62) return 71;
  if ((wire >= 50 && wire <= 54)) return 125;
  if ((wire >= 55 && wire <= 59) || wire == 74) return 55 + 4 * rank;
  switch (wire) {
    case 46: case 70: return 74;
    case 106: return 75;
    case 107: return 94;
    case 108: return 95;
    case 47: return 109;
    case 48: case 49: return 113;
    case 109: case 110: return 77;
    case 60: case 63: case 71: return 49;
    case 61: return 82;
    case 64: case 65: return 49;
    case 66: case 67: case 68: return 81;
    case 69: return 106;
    case 119: case 121: return 173;
    case 120: return 96;
    case 72: case 73: return 106;
    case 75: return 93;
    case 77: return 69;
    case 78: return 89;
    case 114: return 94;
    case 115: return 50;
    case 105: return 106;
    case 118: return 128;
    case 113: return 59;
    case 111: return 130;
    case 116: return 153;
    case 117: return 173;
    case 112: return 64 + 8 * rank;
    default: return 0;
  }
}

std::uint8_t rank_of(const KernelCall& c) {
  if (auto* r = c.get_if<ReduceCall>()) return r->rank;
  if (auto* r = c.get_if<BroadcastBinaryCall>()) return r->rank;
  return 0;
}

TEST(CallsCodec, RecordSizesPerDiscriminant) {
  std::set<std::uint16_t> seen;
  for (const KernelCall& call : every_sample()) {
    Bytes bytes = encode_one(call);
    ASSERT_GE(bytes.size(), 6u);
    const std::uint16_t wire = load_le16(bytes.data() + 4);
    seen.insert(wire);
    EXPECT_EQ(bytes.size() - 6, record_bytes(wire, rank_of(call))) << "discriminant " << wire;
  }
  // Every assigned discriminant was produced by some sample.
  for (std::uint16_t d = 1; d <= 121; ++d) {
    const bool assigned = d <= 78 || d >= 105;
    EXPECT_EQ(seen.count(d), assigned ? 1u : 0u) << d;
  }
}

TEST(CallsCodec, SizesOfTheListedExamples) {
  EXPECT_EQ(golden(sample(CallKind::Neg)).size(), 53u);
  ReduceCall r = *sample(CallKind::ReduceSum).get_if<ReduceCall>();
  ASSERT_EQ(r.rank, 3);
  EXPECT_EQ(encode_one(r).size() - 4, 69u);
  BroadcastBinaryCall bb = *sample(CallKind::BroadcastBinary).get_if<BroadcastBinaryCall>();
  ASSERT_EQ(bb.rank, 2);
  EXPECT_EQ(encode_one(bb).size() - 4, 82u);
}

// ---- Forms of dequantize and matmul_dequant -------------------------------

std::uint16_t wire_of(const Bytes& one_call) { return load_le16(one_call.data() + 4); }

TEST(CallsCodec, DequantizeChoosesItsForm) {
  DequantizeCall dq = *sample(CallKind::Dequantize).get_if<DequantizeCall>();
  Bytes plain = encode_one(dq);
  EXPECT_EQ(wire_of(plain), 105);
  EXPECT_EQ(plain.size() - 4, 108u);

  dq.act_quant = 1;
  Bytes ext = encode_one(dq);
  EXPECT_EQ(wire_of(ext), 118);
  EXPECT_EQ(ext.size() - 4, 130u);
  // Form 105 decodes with the extension at its defaults.
  auto back = decode_calls(plain);
  ASSERT_TRUE(back.has_value());
  const auto* d = (*back)[0].get_if<DequantizeCall>();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->weight_layout, 0);
  EXPECT_EQ(d->act_quant, 0);
  EXPECT_EQ(d->codebook, BufferRef::absent());
}

TEST(CallsCodec, MatmulDequantWithOnlyWeightLayoutIsForm116) {
  MatmulDequantCall md = *sample(CallKind::MatmulDequant).get_if<MatmulDequantCall>();
  EXPECT_EQ(wire_of(encode_one(md)), 111);
  md.weight_layout = 1;
  Bytes bytes = encode_one(md);
  EXPECT_EQ(wire_of(bytes), 116);
  auto back = decode_calls(bytes);
  ASSERT_TRUE(back.has_value());
  const auto* d = (*back)[0].get_if<MatmulDequantCall>();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->weight_layout, 1);
  EXPECT_EQ(d->act, 0);
  EXPECT_FALSE(d->addend.present());
  EXPECT_FALSE(d->codebook.present());
  EXPECT_EQ(d->addend, BufferRef::absent());  // offset and len 0 as well
  EXPECT_EQ(d->codebook, BufferRef::absent());
}

// ---- Flags ----------------------------------------------------------------

// Sets the byte at an offset of a one-call payload and decodes it again.
KernelCall patched(Bytes bytes, std::size_t offset, std::uint8_t value) {
  bytes.at(offset) = value;
  auto back = decode_calls(bytes);
  EXPECT_TRUE(back.has_value());
  return back ? (*back)[0] : KernelCall(UnaryCall{});
}

constexpr std::size_t kRecordStart = 6;  // count and discriminant

TEST(CallsCodec, NonZeroFlagBytesDecodeAsOne) {
  MatmulCall mm = *sample(CallKind::Matmul).get_if<MatmulCall>();
  mm.packed = false;
  Bytes bytes = encode_one(mm);
  KernelCall back = patched(bytes, kRecordStart + 60 + 12 + 1, 7);
  EXPECT_TRUE(back.get_if<MatmulCall>()->packed);
  Bytes again = encode_one(back);
  EXPECT_EQ(again[kRecordStart + 73], 1);

  ReduceCall r = *sample(CallKind::Cumsum).get_if<ReduceCall>();
  r.keepdims = false;
  EXPECT_TRUE(patched(encode_one(r), kRecordStart + 40 + 8 + 1 + 4, 0x80).get_if<ReduceCall>()->keepdims);

  AttentionCall a = *sample(CallKind::Attention).get_if<AttentionCall>();
  a.causal = false;
  EXPECT_TRUE(patched(encode_one(a), kRecordStart + 80 + 20, 2).get_if<AttentionCall>()->causal);

  BroadcastBinaryCall bb = *sample(CallKind::BroadcastBinary).get_if<BroadcastBinaryCall>();
  bb.order = false;
  EXPECT_TRUE(patched(encode_one(bb), kRecordStart + 60 + 2, 255).get_if<BroadcastBinaryCall>()->order);

  // weight_layout is a flag in forms 116 and 117 ...
  MatmulDequantCall md = *sample(CallKind::MatmulDequant).get_if<MatmulDequantCall>();
  md.act = 1;
  EXPECT_EQ(patched(encode_one(md), kRecordStart + 130, 9).get_if<MatmulDequantCall>()->weight_layout, 1);
  // ... but kept as read in form 118.
  DequantizeCall dq = *sample(CallKind::Dequantize).get_if<DequantizeCall>();
  dq.act_quant = 1;
  KernelCall dq_back = patched(encode_one(dq), kRecordStart + 106, 9);
  EXPECT_EQ(dq_back.get_if<DequantizeCall>()->weight_layout, 9);
  EXPECT_EQ(wire_of(encode_one(dq_back)), 118);
}

// ---- Malformed and truncated payloads -------------------------------------

TEST(CallsCodec, EmptyList) {
  EXPECT_EQ(encode_ok({}), (Bytes{0, 0, 0, 0}));
  auto back = decode_calls(Bytes{0, 0, 0, 0});
  ASSERT_TRUE(back.has_value());
  EXPECT_TRUE(back->empty());
}

TEST(CallsCodec, ShortPayloadsAreTruncated) {
  for (std::size_t len : {0u, 1u, 3u}) {
    auto r = decode_calls(Bytes(len, 0));
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), ArchiveError::truncated(4, len));
  }
  auto one = decode_calls(Bytes{1, 0, 0, 0});
  ASSERT_FALSE(one.has_value());
  EXPECT_EQ(one.error(), ArchiveError::truncated(6, 4));
  auto half_disc = decode_calls(Bytes{1, 0, 0, 0, 1});
  ASSERT_FALSE(half_disc.has_value());
  EXPECT_EQ(half_disc.error(), ArchiveError::truncated(6, 5));
}

// Every cut through a valid list fails with Truncated at the cut, never with
// a partial list.
TEST(CallsCodec, EveryTruncationIsReported) {
  std::vector<KernelCall> calls = every_sample();
  Bytes full = encode_ok(calls);
  for (std::size_t len = 4; len < full.size(); ++len) {
    auto r = decode_calls(ByteView(full.data(), len));
    ASSERT_FALSE(r.has_value()) << len;
    EXPECT_EQ(r.error().kind, ArchiveErrorKind::Truncated) << len;
    EXPECT_EQ(r.error().available, len);
    EXPECT_GT(r.error().needed, len);
    EXPECT_LE(r.error().needed, len + 20);  // no field is wider than a reference
  }
}

TEST(CallsCodec, TruncationInsideARecordNamesTheFieldEnd) {
  Bytes bytes = encode_one(sample(CallKind::Neg));
  // Cut inside the output reference (bytes 26..45 of the payload).
  auto r = decode_calls(ByteView(bytes.data(), 30));
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), ArchiveError::truncated(46, 30));
}

TEST(CallsCodec, UnassignedDiscriminantsAreMalformed) {
  for (std::uint16_t d : {0, 79, 90, 104, 122, 200, 65535}) {
    Bytes bytes{1, 0, 0, 0, static_cast<std::uint8_t>(d), static_cast<std::uint8_t>(d >> 8)};
    bytes.resize(bytes.size() + 200, 0);  // enough for any record
    auto r = decode_calls(bytes);
    ASSERT_FALSE(r.has_value()) << d;
    EXPECT_EQ(r.error(), ArchiveError::malformed("unknown KernelCall discriminant")) << d;
  }
  for (std::uint16_t d : {78, 105}) {
    Bytes bytes{1, 0, 0, 0, static_cast<std::uint8_t>(d), 0};
    bytes.resize(bytes.size() + 200, 0);
    EXPECT_TRUE(decode_calls(bytes).has_value()) << d;
  }
}

TEST(CallsCodec, RankAboveEightIsMalformed) {
  Bytes reduce = encode_one(sample(CallKind::ReduceProd));
  reduce[kRecordStart + 48] = 9;  // the rank byte
  auto r = decode_calls(reduce);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), ArchiveError::malformed("kernel call rank above 8"));

  Bytes bb = encode_one(sample(CallKind::BroadcastBinary));
  bb[kRecordStart + 60] = 255;
  bb.resize(bb.size() + 8 * 255, 0);  // even with the bytes present
  auto b = decode_calls(bb);
  ASSERT_FALSE(b.has_value());
  EXPECT_EQ(b.error(), ArchiveError::malformed("kernel call rank above 8"));

  // Rank 8 itself is fine.
  reduce[kRecordStart + 48] = 8;
  reduce.resize(reduce.size() + 5 * 4, 0);
  EXPECT_TRUE(decode_calls(reduce).has_value());
}

TEST(CallsCodec, FirstErrorDiscardsTheWholeList) {
  std::vector<KernelCall> calls = {sample(CallKind::Add), sample(CallKind::Relu)};
  Bytes bytes = encode_ok(calls);
  bytes[4 + 2 + 71] = 0;  // the second record's discriminant becomes 0
  bytes[4 + 2 + 71 + 1] = 0;
  auto r = decode_calls(bytes);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), ArchiveError::malformed("unknown KernelCall discriminant"));
}

// A count far above what the payload holds fails at the first missing record
// and never sizes an allocation from the count.
TEST(CallsCodec, ForgedCountFailsAtTheFirstMissingRecord) {
  Bytes bytes = encode_one(sample(CallKind::Neg));
  bytes[0] = bytes[1] = bytes[2] = bytes[3] = 0xFF;
  auto r = decode_calls(bytes);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error(), ArchiveError::truncated(4 + 53 + 2, 4 + 53));
}

TEST(CallsCodec, TrailingBytesAreIgnored) {
  Bytes bytes = encode_one(sample(CallKind::Where));
  bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE});
  auto r = decode_calls(bytes);
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->size(), 1u);
}

TEST(CallsCodec, DecodeOneAdvancesByOneRecord) {
  std::vector<KernelCall> calls = {sample(CallKind::Gemm), sample(CallKind::Cast)};
  Bytes bytes = encode_ok(calls);
  Cursor c(ByteView(bytes).subspan(4));
  auto first = decode_one(c);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(*first, calls[0]);
  EXPECT_EQ(c.pos(), 2u + 109);
  auto second = decode_one(c);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(*second, calls[1]);
  EXPECT_EQ(c.remaining(), 0u);
}

// Damaged payloads either fail with an error value or decode to calls that
// the encoder writes back and the decoder reads back unchanged.
TEST(CallsCodec, DamagedPayloadsFailCleanlyOrRoundTrip) {
  const Bytes valid = encode_ok(every_sample());
  std::mt19937 rng(12345);
  int decoded = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes bytes = valid;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
    auto calls = decode_calls(bytes);
    if (!calls) continue;
    ++decoded;
    auto again = encode_calls(*calls);
    ASSERT_TRUE(again.has_value()) << trial;
    auto back = decode_calls(*again);
    ASSERT_TRUE(back.has_value()) << trial;
    EXPECT_EQ(*back, *calls) << trial;
  }
  EXPECT_GT(decoded, 0);
}

// ---- Encoder refusals -----------------------------------------------------

TEST(CallsCodec, EncoderRefusesRecordsItCannotWriteFaithfully) {
  ReduceCall r = *sample(CallKind::ReduceSum).get_if<ReduceCall>();
  r.rank = 9;
  auto e1 = encode_calls(std::vector<KernelCall>{r});
  ASSERT_FALSE(e1.has_value());
  EXPECT_EQ(e1.error(), ArchiveError::malformed("kernel call rank above 8"));

  BroadcastBinaryCall bb = *sample(CallKind::BroadcastBinary).get_if<BroadcastBinaryCall>();
  bb.rank = 12;
  auto e2 = encode_calls(std::vector<KernelCall>{sample(CallKind::Neg), bb});
  ASSERT_FALSE(e2.has_value());
  EXPECT_EQ(e2.error(), ArchiveError::malformed("kernel call rank above 8"));

  auto e3 = encode_calls(std::vector<KernelCall>{UnaryCall{.kind = CallKind::Add}});
  ASSERT_FALSE(e3.has_value());
  EXPECT_EQ(e3.error(), ArchiveError::malformed("kernel call variant does not match its record"));
}

// ---- Cursor::buf -----------------------------------------------------------

TEST(Cursor, BufReadsSlotFirstAndDoesNotAdvanceWhenShort) {
  ByteWriter w;
  w.u32(7);
  w.u64(0x1122334455667788);
  w.u64(99);
  Bytes b = w.take();
  Cursor c(b);
  auto r = c.buf();
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(*r, (BufferRef{0x1122334455667788, 99, 7}));
  EXPECT_EQ(c.pos(), 20u);

  Cursor shortc(ByteView(b.data(), 19));
  auto s = shortc.buf();
  ASSERT_FALSE(s.has_value());
  EXPECT_EQ(s.error(), ArchiveError::truncated(20, 19));
  EXPECT_EQ(shortc.pos(), 0u);
}

}  // namespace
}  // namespace tessary
