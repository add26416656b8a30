#include "archive/calls_codec.h"

#include <algorithm>
#include <array>
#include <optional>

#include "compute/overloaded.h"

namespace tessary {
namespace {

// ---- Discriminants -------------------------------------------------------

constexpr std::uint16_t kDequantizeExt = 118;
constexpr std::uint16_t kMatmulDequantFlags = 116;
constexpr std::uint16_t kMatmulDequantCodebook = 117;
constexpr std::uint16_t kMaxWire = 121;

// The shortest record: reshape, slice, pad, softmax and log_softmax take 49
// bytes after the discriminant. Bounds how many calls a payload can hold.
constexpr std::size_t kMinRecordBytes = 2 + 49;

struct WireEntry {
  bool assigned = false;
  CallKind kind{};
};

// Discriminant to variant, derived from the call table plus the longer forms.
constexpr std::array<WireEntry, kMaxWire + 1> make_wire_table() {
  std::array<WireEntry, kMaxWire + 1> t{};
  for (std::size_t i = 0; i < kCallKindCount; ++i) {
    t[call_table_detail::kTable[i].wire] = {true, static_cast<CallKind>(i)};
  }
  t[kDequantizeExt] = {true, CallKind::Dequantize};
  t[kMatmulDequantFlags] = {true, CallKind::MatmulDequant};
  t[kMatmulDequantCodebook] = {true, CallKind::MatmulDequant};
  return t;
}
constexpr auto kWireTable = make_wire_table();

// Every discriminant is used once, and exactly 1..78 and 105..121 are.
constexpr bool wire_table_is_exact() {
  std::array<int, 256> uses{};
  for (std::size_t i = 0; i < kCallKindCount; ++i) ++uses[call_table_detail::kTable[i].wire];
  ++uses[kDequantizeExt];
  ++uses[kMatmulDequantFlags];
  ++uses[kMatmulDequantCodebook];
  for (std::size_t d = 0; d < uses.size(); ++d) {
    const bool assigned = (d >= 1 && d <= 78) || (d >= 105 && d <= kMaxWire);
    if (uses[d] != (assigned ? 1 : 0)) return false;
  }
  return true;
}
static_assert(wire_table_is_exact());

// ---- Encoding ------------------------------------------------------------

std::uint8_t tag(DTypeId t) { return static_cast<std::uint8_t>(t); }

void put_buf(ByteWriter& w, const BufferRef& r) {
  w.u32(r.slot);
  w.u64(r.offset);
  w.u64(r.len);
}

template <class... Refs>
void put_bufs(ByteWriter& w, const Refs&... refs) {
  (put_buf(w, refs), ...);
}

void put_u32s(ByteWriter& w, std::initializer_list<std::uint32_t> values) {
  for (std::uint32_t v : values) w.u32(v);
}

void put_unary(ByteWriter& w, const UnaryCall& r) {
  put_bufs(w, r.input, r.output);
  w.u64(r.n);
  w.u16(r.aux);
  w.u8(tag(r.dtype));
}

void put_binary(ByteWriter& w, const BinaryCall& r) {
  put_bufs(w, r.a, r.b, r.output);
  w.u64(r.n);
  w.u16(r.aux);
  w.u8(tag(r.dtype));
}

void put_matmul(ByteWriter& w, const MatmulCall& r) {
  put_bufs(w, r.a, r.b, r.output);
  put_u32s(w, {r.m, r.k, r.n});
  w.u8(tag(r.dtype));
  w.flag(r.packed);
  const CallDescriptor& d = call_descriptor(r.kind);
  if (d.has_addend) put_buf(w, r.addend);
  if (d.has_act) w.u8(r.act);
}

void put_gemm(ByteWriter& w, const GemmCall& r) {
  put_bufs(w, r.a, r.b, r.c, r.output);
  put_u32s(w, {r.m, r.k, r.n});
  w.u64(r.alpha);
  w.u64(r.beta);
  w.u8(tag(r.dtype));
}

void put_conv(ByteWriter& w, const ConvCall& r) {
  put_bufs(w, r.input, r.weight, r.output);
  put_u32s(w, {r.batch, r.cin, r.cout, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w, r.pad_h, r.pad_w});
  w.u8(tag(r.dtype));
}

void put_im2col(ByteWriter& w, const Im2colCall& r) {
  put_bufs(w, r.input, r.output);
  put_u32s(w, {r.planes, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w});
  w.u8(tag(r.dtype));
}

void put_norm(ByteWriter& w, const NormCall& r) {
  put_bufs(w, r.x, r.second, r.third, r.fourth, r.output);
  put_u32s(w, {r.rows, r.features, r.channels, r.groups});
  w.u64(r.epsilon);
  w.u8(tag(r.dtype));
}

void put_reduce(ByteWriter& w, const ReduceCall& r) {
  put_bufs(w, r.input, r.output);
  w.u64(r.n);
  w.u8(r.rank);
  w.u32(r.axes);
  w.flag(r.keepdims);
  w.u8(tag(r.dtype));
  for (std::size_t i = 0; i < r.rank; ++i) w.u32(r.dims[i]);  // rank <= 8 checked by the caller
}

void put_layout(ByteWriter& w, const LayoutCall& r) {
  put_bufs(w, r.input, r.output);
  w.u64(r.n);
  w.u8(tag(r.dtype));
}

void put_transpose(ByteWriter& w, const TransposeCall& r) {
  put_bufs(w, r.input, r.output);
  w.u8(r.rank);
  for (std::uint32_t d : r.dims) w.u32(d);
  for (std::uint8_t p : r.perm) w.u8(p);
  w.u8(tag(r.dtype));
}

void put_softmax(ByteWriter& w, const SoftmaxCall& r) {
  put_bufs(w, r.input, r.output);
  put_u32s(w, {r.rows, r.cols});
  w.u8(tag(r.dtype));
}

void put_pool(ByteWriter& w, const PoolCall& r) {
  put_bufs(w, r.input, r.output);
  put_u32s(w, {r.batch, r.channels, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w});
  w.u8(tag(r.dtype));
}

void put_attention(ByteWriter& w, const AttentionCall& r) {
  put_bufs(w, r.q, r.k, r.v, r.output);
  put_u32s(w, {r.batch, r.heads, r.seq, r.head_dim, r.kv_heads});
  w.flag(r.causal);
  w.u32(r.scale);
  w.u8(tag(r.dtype));
}

void put_decode_attention(ByteWriter& w, const DecodeAttentionCall& r) {
  put_bufs(w, r.q, r.past_k, r.past_v, r.new_k, r.new_v, r.visibility, r.output);
  put_u32s(w, {r.batch, r.heads, r.kv_heads, r.q_rows, r.past_len, r.new_len, r.head_dim, r.scale});
  w.u8(tag(r.dtype));
}

void put_kv_cache_write(ByteWriter& w, const KvCacheWriteCall& r) {
  put_bufs(w, r.cache, r.rows, r.position, r.output);
  put_u32s(w, {r.groups, r.bucket_rows, r.new_rows, r.row_bytes});
}

void put_expand(ByteWriter& w, const ExpandCall& r) {
  put_bufs(w, r.input, r.output);
  w.u8(r.rank);
  for (std::uint32_t d : r.in_dims) w.u32(d);
  for (std::uint32_t d : r.out_dims) w.u32(d);
  w.u8(tag(r.dtype));
}

void put_rope(ByteWriter& w, const RopeCall& r) {
  put_bufs(w, r.x, r.cos, r.sin, r.output);
  w.u32(r.head_dim);
  w.u64(r.n);
  w.u8(tag(r.dtype));
}

void put_lrn(ByteWriter& w, const LrnCall& r) {
  put_bufs(w, r.input, r.output);
  put_u32s(w, {r.batch, r.channels, r.spatial, r.size, r.alpha, r.beta, r.bias});
  w.u8(tag(r.dtype));
}

void put_where(ByteWriter& w, const WhereCall& r) {
  put_bufs(w, r.cond, r.x, r.y, r.output);
  w.u64(r.n);
  w.u8(tag(r.dtype));
}

void put_gather(ByteWriter& w, const GatherCall& r) {
  put_bufs(w, r.data, r.indices, r.output);
  for (std::uint64_t v : {r.outer, r.axis_len, r.inner, r.index_count}) w.u64(v);
  w.u8(tag(r.index_dtype));
  w.u8(tag(r.dtype));
}

void put_cast(ByteWriter& w, const CastCall& r) {
  put_bufs(w, r.input, r.output);
  w.u64(r.n);
  w.u8(tag(r.src_dtype));
  w.u8(tag(r.dtype));
}

bool dequantize_is_plain(const DequantizeCall& r) {
  return r.weight_layout == 0 && r.act_quant == 0 && !r.codebook.present();
}

void put_dequantize(ByteWriter& w, const DequantizeCall& r) {
  put_bufs(w, r.q, r.scales, r.zero_points, r.output);
  w.u64(r.n);
  put_u32s(w, {r.scale_count, r.scale_divisor});
  w.u8(tag(r.quant_dtype));
  w.u8(tag(r.dtype));
  w.u32(r.scale);
  w.u32(static_cast<std::uint32_t>(r.zero_point));
  if (dequantize_is_plain(r)) return;
  w.u8(r.weight_layout);
  w.u8(r.act_quant);
  put_buf(w, r.codebook);
}

void put_dequant_activation(ByteWriter& w, const DequantActivationCall& r) {
  put_bufs(w, r.input, r.output);
  w.u64(r.n);
  w.u8(tag(r.quant_dtype));
  w.u8(r.table);
  w.u8(tag(r.dtype));
  w.u32(r.scale);
  w.u32(static_cast<std::uint32_t>(r.zero_point));
}

std::uint16_t matmul_dequant_form(const MatmulDequantCall& r) {
  if (r.codebook.present()) return kMatmulDequantCodebook;
  if (r.weight_layout == 0 && r.act_quant == 0 && r.act == 0 && !r.addend.present()) {
    return call_descriptor(CallKind::MatmulDequant).wire;
  }
  return kMatmulDequantFlags;
}

void put_matmul_dequant(ByteWriter& w, const MatmulDequantCall& r, std::uint16_t form) {
  put_bufs(w, r.a, r.w, r.scales, r.zero_points, r.output);
  put_u32s(w, {r.m, r.k, r.n, r.scale_count, r.scale_divisor});
  w.u8(tag(r.quant_dtype));
  w.u8(tag(r.dtype));
  w.u32(r.scale);
  w.u32(static_cast<std::uint32_t>(r.zero_point));
  if (form == call_descriptor(CallKind::MatmulDequant).wire) return;
  w.flag(r.weight_layout != 0);
  w.u8(r.act_quant);
  w.u8(r.act);
  put_buf(w, r.addend);  // written as it stands, slot none included
  if (form == kMatmulDequantCodebook) put_buf(w, r.codebook);
}

void put_broadcast_binary(ByteWriter& w, const BroadcastBinaryCall& r) {
  put_bufs(w, r.a, r.b, r.output);
  w.u8(r.rank);
  w.u8(r.op);
  w.flag(r.order);
  w.u8(tag(r.dtype));
  for (std::size_t i = 0; i < r.rank; ++i) {  // rank <= 8 checked by the caller
    w.u32(r.in_dims[i]);
    w.u32(r.out_dims[i]);
  }
}

// Writes one record with its discriminant, or refuses a call the decoder
// would not read back as the same call.
std::optional<ArchiveError> put_call(ByteWriter& w, const KernelCall& call) {
  if (!call.well_formed()) return ArchiveError::malformed(kCallRecordMismatch);
  auto rank_ok = Overloaded{
      [](const ReduceCall& r) { return r.rank <= 8; },
      [](const BroadcastBinaryCall& r) { return r.rank <= 8; },
      [](const auto&) { return true; },
  };
  if (!std::visit(rank_ok, call.record())) return ArchiveError::malformed(kCallRankAbove8);

  const std::uint16_t wire = call.descriptor().wire;
  std::visit(Overloaded{
                 [&](const UnaryCall& r) { w.u16(wire), put_unary(w, r); },
                 [&](const BinaryCall& r) { w.u16(wire), put_binary(w, r); },
                 [&](const MatmulCall& r) { w.u16(wire), put_matmul(w, r); },
                 [&](const GemmCall& r) { w.u16(wire), put_gemm(w, r); },
                 [&](const ConvCall& r) { w.u16(wire), put_conv(w, r); },
                 [&](const Im2colCall& r) { w.u16(wire), put_im2col(w, r); },
                 [&](const NormCall& r) { w.u16(wire), put_norm(w, r); },
                 [&](const ReduceCall& r) { w.u16(wire), put_reduce(w, r); },
                 [&](const LayoutCall& r) { w.u16(wire), put_layout(w, r); },
                 [&](const TransposeCall& r) { w.u16(wire), put_transpose(w, r); },
                 [&](const SoftmaxCall& r) { w.u16(wire), put_softmax(w, r); },
                 [&](const PoolCall& r) { w.u16(wire), put_pool(w, r); },
                 [&](const AttentionCall& r) { w.u16(wire), put_attention(w, r); },
                 [&](const DecodeAttentionCall& r) { w.u16(wire), put_decode_attention(w, r); },
                 [&](const KvCacheWriteCall& r) { w.u16(wire), put_kv_cache_write(w, r); },
                 [&](const ExpandCall& r) { w.u16(wire), put_expand(w, r); },
                 [&](const RopeCall& r) { w.u16(wire), put_rope(w, r); },
                 [&](const LrnCall& r) { w.u16(wire), put_lrn(w, r); },
                 [&](const WhereCall& r) { w.u16(wire), put_where(w, r); },
                 [&](const GatherCall& r) { w.u16(wire), put_gather(w, r); },
                 [&](const CastCall& r) { w.u16(wire), put_cast(w, r); },
                 [&](const DequantizeCall& r) {
                   w.u16(dequantize_is_plain(r) ? wire : kDequantizeExt);
                   put_dequantize(w, r);
                 },
                 [&](const DequantActivationCall& r) { w.u16(wire), put_dequant_activation(w, r); },
                 [&](const MatmulDequantCall& r) {
                   const std::uint16_t form = matmul_dequant_form(r);
                   w.u16(form);
                   put_matmul_dequant(w, r, form);
                 },
                 [&](const BroadcastBinaryCall& r) { w.u16(wire), put_broadcast_binary(w, r); },
             },
             call.record());
  return std::nullopt;
}

// ---- Decoding ------------------------------------------------------------

// Reads fields in sequence and keeps the first error; after it every read
// yields zero without touching the cursor. Lets each record be read as one
// braced initializer in field order (braced initializers evaluate left to
// right, and designators must follow the record's member order).
class FieldReader {
 public:
  explicit FieldReader(Cursor& c) : c_(c) {}

  std::uint8_t u8() { return err_ ? 0 : take(c_.u8()); }
  bool flag() { return err_ ? false : take(c_.flag()); }
  std::uint16_t u16() { return err_ ? 0 : take(c_.u16()); }
  std::uint32_t u32() { return err_ ? 0 : take(c_.u32()); }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  std::uint64_t u64() { return err_ ? 0 : take(c_.u64()); }
  BufferRef buf() { return err_ ? BufferRef{} : take(c_.buf()); }
  DTypeId dtype() { return static_cast<DTypeId>(u8()); }
  std::array<std::uint32_t, 8> u32x8() {
    std::array<std::uint32_t, 8> a{};
    for (auto& v : a) v = u32();
    return a;
  }
  std::array<std::uint8_t, 8> u8x8() {
    std::array<std::uint8_t, 8> a{};
    for (auto& v : a) v = u8();
    return a;
  }
  // The rank byte of a record that stores only its first rank entries. Such
  // a rank above 8 has no meaning for any consumer, so it is refused here.
  std::uint8_t rank_at_most_8() {
    std::uint8_t r = u8();
    if (r > 8 && !err_) err_ = ArchiveError::malformed(kCallRankAbove8);
    return err_ ? 0 : r;
  }

  template <CallRecordType R>
  ArchiveResult<KernelCall> finish(R record) const {
    if (err_) return std::unexpected(*err_);
    return KernelCall(std::move(record));
  }

 private:
  template <class T>
  T take(ArchiveResult<T> r) {
    if (r) return *r;
    err_ = r.error();
    return T{};
  }

  Cursor& c_;
  std::optional<ArchiveError> err_;
};

ArchiveResult<KernelCall> read_unary(FieldReader& f, CallKind kind) {
  return f.finish(UnaryCall{
      .kind = kind, .input = f.buf(), .output = f.buf(), .n = f.u64(), .aux = f.u16(), .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_binary(FieldReader& f, CallKind kind) {
  return f.finish(BinaryCall{.kind = kind,
                             .a = f.buf(),
                             .b = f.buf(),
                             .output = f.buf(),
                             .n = f.u64(),
                             .aux = f.u16(),
                             .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_matmul(FieldReader& f, CallKind kind) {
  MatmulCall r{.kind = kind,
               .a = f.buf(),
               .b = f.buf(),
               .output = f.buf(),
               .m = f.u32(),
               .k = f.u32(),
               .n = f.u32(),
               .dtype = f.dtype(),
               .packed = f.flag()};
  const CallDescriptor& d = call_descriptor(kind);
  if (d.has_addend) r.addend = f.buf();
  if (d.has_act) r.act = f.u8();
  return f.finish(r);
}

ArchiveResult<KernelCall> read_gemm(FieldReader& f) {
  return f.finish(GemmCall{.a = f.buf(),
                           .b = f.buf(),
                           .c = f.buf(),
                           .output = f.buf(),
                           .m = f.u32(),
                           .k = f.u32(),
                           .n = f.u32(),
                           .alpha = f.u64(),
                           .beta = f.u64(),
                           .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_conv(FieldReader& f, CallKind kind) {
  return f.finish(ConvCall{.kind = kind,
                           .input = f.buf(),
                           .weight = f.buf(),
                           .output = f.buf(),
                           .batch = f.u32(),
                           .cin = f.u32(),
                           .cout = f.u32(),
                           .h = f.u32(),
                           .w = f.u32(),
                           .oh = f.u32(),
                           .ow = f.u32(),
                           .kh = f.u32(),
                           .kw = f.u32(),
                           .stride_h = f.u32(),
                           .stride_w = f.u32(),
                           .pad_h = f.u32(),
                           .pad_w = f.u32(),
                           .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_im2col(FieldReader& f, CallKind kind) {
  return f.finish(Im2colCall{.kind = kind,
                             .input = f.buf(),
                             .output = f.buf(),
                             .planes = f.u32(),
                             .h = f.u32(),
                             .w = f.u32(),
                             .oh = f.u32(),
                             .ow = f.u32(),
                             .kh = f.u32(),
                             .kw = f.u32(),
                             .stride_h = f.u32(),
                             .stride_w = f.u32(),
                             .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_norm(FieldReader& f, CallKind kind) {
  return f.finish(NormCall{.kind = kind,
                           .x = f.buf(),
                           .second = f.buf(),
                           .third = f.buf(),
                           .fourth = f.buf(),
                           .output = f.buf(),
                           .rows = f.u32(),
                           .features = f.u32(),
                           .channels = f.u32(),
                           .groups = f.u32(),
                           .epsilon = f.u64(),
                           .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_reduce(FieldReader& f, CallKind kind) {
  ReduceCall r{.kind = kind,
               .input = f.buf(),
               .output = f.buf(),
               .n = f.u64(),
               .rank = f.rank_at_most_8(),
               .axes = f.u32(),
               .keepdims = f.flag(),
               .dtype = f.dtype()};
  for (std::size_t i = 0; i < r.rank; ++i) r.dims[i] = f.u32();  // the rest stay 0
  return f.finish(r);
}

ArchiveResult<KernelCall> read_layout(FieldReader& f, CallKind kind) {
  return f.finish(LayoutCall{.kind = kind, .input = f.buf(), .output = f.buf(), .n = f.u64(), .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_transpose(FieldReader& f) {
  return f.finish(TransposeCall{.input = f.buf(),
                                .output = f.buf(),
                                .rank = f.u8(),
                                .dims = f.u32x8(),
                                .perm = f.u8x8(),
                                .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_softmax(FieldReader& f, CallKind kind) {
  return f.finish(SoftmaxCall{
      .kind = kind, .input = f.buf(), .output = f.buf(), .rows = f.u32(), .cols = f.u32(), .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_pool(FieldReader& f, CallKind kind) {
  return f.finish(PoolCall{.kind = kind,
                           .input = f.buf(),
                           .output = f.buf(),
                           .batch = f.u32(),
                           .channels = f.u32(),
                           .h = f.u32(),
                           .w = f.u32(),
                           .oh = f.u32(),
                           .ow = f.u32(),
                           .kh = f.u32(),
                           .kw = f.u32(),
                           .stride_h = f.u32(),
                           .stride_w = f.u32(),
                           .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_attn(FieldReader& f) {
  return f.finish(AttentionCall{.q = f.buf(),
                                .k = f.buf(),
                                .v = f.buf(),
                                .output = f.buf(),
                                .batch = f.u32(),
                                .heads = f.u32(),
                                .seq = f.u32(),
                                .head_dim = f.u32(),
                                .kv_heads = f.u32(),
                                .causal = f.flag(),
                                .scale = f.u32(),
                                .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_decattn(FieldReader& f, CallKind kind) {
  return f.finish(DecodeAttentionCall{.kind = kind,
                                      .q = f.buf(),
                                      .past_k = f.buf(),
                                      .past_v = f.buf(),
                                      .new_k = f.buf(),
                                      .new_v = f.buf(),
                                      .visibility = f.buf(),
                                      .output = f.buf(),
                                      .batch = f.u32(),
                                      .heads = f.u32(),
                                      .kv_heads = f.u32(),
                                      .q_rows = f.u32(),
                                      .past_len = f.u32(),
                                      .new_len = f.u32(),
                                      .head_dim = f.u32(),
                                      .scale = f.u32(),
                                      .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_kvwr(FieldReader& f) {
  return f.finish(KvCacheWriteCall{.cache = f.buf(),
                                   .rows = f.buf(),
                                   .position = f.buf(),
                                   .output = f.buf(),
                                   .groups = f.u32(),
                                   .bucket_rows = f.u32(),
                                   .new_rows = f.u32(),
                                   .row_bytes = f.u32()});
}

ArchiveResult<KernelCall> read_expand(FieldReader& f, CallKind kind) {
  return f.finish(ExpandCall{.kind = kind,
                             .input = f.buf(),
                             .output = f.buf(),
                             .rank = f.u8(),
                             .in_dims = f.u32x8(),
                             .out_dims = f.u32x8(),
                             .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_rope(FieldReader& f) {
  return f.finish(RopeCall{.x = f.buf(),
                           .cos = f.buf(),
                           .sin = f.buf(),
                           .output = f.buf(),
                           .head_dim = f.u32(),
                           .n = f.u64(),
                           .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_lrn(FieldReader& f) {
  return f.finish(LrnCall{.input = f.buf(),
                          .output = f.buf(),
                          .batch = f.u32(),
                          .channels = f.u32(),
                          .spatial = f.u32(),
                          .size = f.u32(),
                          .alpha = f.u32(),
                          .beta = f.u32(),
                          .bias = f.u32(),
                          .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_where(FieldReader& f) {
  return f.finish(WhereCall{
      .cond = f.buf(), .x = f.buf(), .y = f.buf(), .output = f.buf(), .n = f.u64(), .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_gather(FieldReader& f) {
  return f.finish(GatherCall{.data = f.buf(),
                             .indices = f.buf(),
                             .output = f.buf(),
                             .outer = f.u64(),
                             .axis_len = f.u64(),
                             .inner = f.u64(),
                             .index_count = f.u64(),
                             .index_dtype = f.dtype(),
                             .dtype = f.dtype()});
}

ArchiveResult<KernelCall> read_cast(FieldReader& f) {
  return f.finish(
      CastCall{.input = f.buf(), .output = f.buf(), .n = f.u64(), .src_dtype = f.dtype(), .dtype = f.dtype()});
}

// Form 105 leaves the extension at its defaults; form 118 keeps its
// weight_layout and act_quant bytes as read.
ArchiveResult<KernelCall> read_dequantize(FieldReader& f, std::uint16_t wire) {
  DequantizeCall r{.q = f.buf(),
                   .scales = f.buf(),
                   .zero_points = f.buf(),
                   .output = f.buf(),
                   .n = f.u64(),
                   .scale_count = f.u32(),
                   .scale_divisor = f.u32(),
                   .quant_dtype = f.dtype(),
                   .dtype = f.dtype(),
                   .scale = f.u32(),
                   .zero_point = f.i32()};
  if (wire == kDequantizeExt) {
    r.weight_layout = f.u8();
    r.act_quant = f.u8();
    r.codebook = f.buf();
  }
  return f.finish(r);
}

ArchiveResult<KernelCall> read_dequant_activation(FieldReader& f) {
  return f.finish(DequantActivationCall{.input = f.buf(),
                                        .output = f.buf(),
                                        .n = f.u64(),
                                        .quant_dtype = f.dtype(),
                                        .table = f.u8(),
                                        .dtype = f.dtype(),
                                        .scale = f.u32(),
                                        .zero_point = f.i32()});
}

// Fields a shorter form leaves out keep their defaults: 0 and absent.
ArchiveResult<KernelCall> read_matmul_dequant(FieldReader& f, std::uint16_t wire) {
  MatmulDequantCall r{.a = f.buf(),
                      .w = f.buf(),
                      .scales = f.buf(),
                      .zero_points = f.buf(),
                      .output = f.buf(),
                      .m = f.u32(),
                      .k = f.u32(),
                      .n = f.u32(),
                      .scale_count = f.u32(),
                      .scale_divisor = f.u32(),
                      .quant_dtype = f.dtype(),
                      .dtype = f.dtype(),
                      .scale = f.u32(),
                      .zero_point = f.i32()};
  if (wire == kMatmulDequantFlags || wire == kMatmulDequantCodebook) {
    r.weight_layout = f.flag() ? 1 : 0;
    r.act_quant = f.u8();
    r.act = f.u8();
    r.addend = f.buf();
  }
  if (wire == kMatmulDequantCodebook) r.codebook = f.buf();
  return f.finish(r);
}

ArchiveResult<KernelCall> read_broadcast_binary(FieldReader& f) {
  BroadcastBinaryCall r{.a = f.buf(),
                        .b = f.buf(),
                        .output = f.buf(),
                        .rank = f.rank_at_most_8(),
                        .op = f.u8(),
                        .order = f.flag(),
                        .dtype = f.dtype()};
  for (std::size_t i = 0; i < r.rank; ++i) {  // the rest stay 0
    r.in_dims[i] = f.u32();
    r.out_dims[i] = f.u32();
  }
  return f.finish(r);
}

}  // namespace

ArchiveResult<Bytes> encode_calls(std::span<const KernelCall> calls) {
  if (calls.size() > UINT32_MAX) return std::unexpected(ArchiveError::malformed(kTooManyCalls));
  ByteWriter w;
  w.u32(static_cast<std::uint32_t>(calls.size()));
  for (const KernelCall& call : calls) {
    if (auto e = put_call(w, call)) return std::unexpected(*e);
  }
  return w.take();
}

ArchiveResult<KernelCall> decode_one(Cursor& cursor) {
  auto d = cursor.u16();
  if (!d) return std::unexpected(d.error());
  const std::uint16_t wire = *d;
  if (wire > kMaxWire || !kWireTable[wire].assigned) {
    return std::unexpected(ArchiveError::malformed(kUnknownCallDiscriminant));
  }
  const CallKind kind = kWireTable[wire].kind;
  FieldReader f(cursor);
  switch (call_descriptor(kind).record) {
    case RecordKind::Unary: return read_unary(f, kind);
    case RecordKind::Binary: return read_binary(f, kind);
    case RecordKind::Matmul: return read_matmul(f, kind);
    case RecordKind::Gemm: return read_gemm(f);
    case RecordKind::Conv: return read_conv(f, kind);
    case RecordKind::Im2col: return read_im2col(f, kind);
    case RecordKind::Norm: return read_norm(f, kind);
    case RecordKind::Reduce: return read_reduce(f, kind);
    case RecordKind::Layout: return read_layout(f, kind);
    case RecordKind::Transpose: return read_transpose(f);
    case RecordKind::Softmax: return read_softmax(f, kind);
    case RecordKind::Pool: return read_pool(f, kind);
    case RecordKind::Attention: return read_attn(f);
    case RecordKind::DecodeAttention: return read_decattn(f, kind);
    case RecordKind::KvCacheWrite: return read_kvwr(f);
    case RecordKind::Expand: return read_expand(f, kind);
    case RecordKind::Rope: return read_rope(f);
    case RecordKind::Lrn: return read_lrn(f);
    case RecordKind::Where: return read_where(f);
    case RecordKind::Gather: return read_gather(f);
    case RecordKind::Cast: return read_cast(f);
    case RecordKind::Dequantize: return read_dequantize(f, wire);
    case RecordKind::DequantActivation: return read_dequant_activation(f);
    case RecordKind::MatmulDequant: return read_matmul_dequant(f, wire);
    case RecordKind::BroadcastBinary: return read_broadcast_binary(f);
    case RecordKind::Invalid: break;
  }
  return std::unexpected(ArchiveError::malformed(kUnknownCallDiscriminant));  // not reachable from the table
}

ArchiveResult<std::vector<KernelCall>> decode_calls(ByteView payload) {
  Cursor cursor(payload);
  auto count = cursor.u32();
  if (!count) return std::unexpected(count.error());
  std::vector<KernelCall> calls;
  // A forged count must not size the allocation: reserve only what the
  // remaining bytes could hold and let the list grow past that.
  calls.reserve(std::min<std::size_t>(*count, cursor.remaining() / kMinRecordBytes));
  for (std::uint32_t i = 0; i < *count; ++i) {
    auto call = decode_one(cursor);
    if (!call) return std::unexpected(call.error());
    calls.push_back(std::move(*call));
  }
  return calls;
}

}  // namespace tessary
