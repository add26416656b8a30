// op_signature: the parameter bytes of every record. Most families take
// their non-reference fields in record order; the exceptions are noted where
// they are built. Labels of stored results depend on these bytes, so any
// change here changes every label of the family.
#include <algorithm>

#include "compute/kernel_call.h"
#include "compute/overloaded.h"

namespace tessary {
namespace {

std::uint8_t tag(DTypeId t) { return static_cast<std::uint8_t>(t); }

// Rank bytes come from archives unchecked for transpose and expand; the axis
// loops never run past the eight stored entries.
std::size_t axes_of(std::uint8_t rank) { return std::min<std::size_t>(rank, 8); }

// The packed flag and the addend reference are not part of the identity; the
// fused activation is.
void p_matmul(Pb& pb, const MatmulCall& r) {
  pb.u32(r.m).u32(r.k).u32(r.n).u8(tag(r.dtype));
  if (call_descriptor(r.kind).has_act) pb.u8(r.act);
}

void p_gemm(Pb& pb, const GemmCall& r) {
  pb.u32(r.m).u32(r.k).u32(r.n).u64(r.alpha).u64(r.beta).u8(tag(r.dtype));
}

void p_conv(Pb& pb, const ConvCall& r) {
  for (std::uint32_t v : {r.batch, r.cin, r.cout, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w, r.pad_h,
                          r.pad_w}) {
    pb.u32(v);
  }
  pb.u8(tag(r.dtype));
}

void p_im2col(Pb& pb, const Im2colCall& r) {
  for (std::uint32_t v : {r.planes, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w}) pb.u32(v);
  pb.u8(tag(r.dtype));
}

void p_pool(Pb& pb, const PoolCall& r) {
  for (std::uint32_t v : {r.batch, r.channels, r.h, r.w, r.oh, r.ow, r.kh, r.kw, r.stride_h, r.stride_w}) pb.u32(v);
  pb.u8(tag(r.dtype));
}

void p_norm(Pb& pb, const NormCall& r) {
  pb.u32(r.rows).u32(r.features).u32(r.channels).u32(r.groups).u64(r.epsilon).u8(tag(r.dtype));
}

void p_reduce(Pb& pb, const ReduceCall& r) {
  pb.u64(r.n).u8(r.rank).u32(r.axes).u8(r.keepdims ? 1 : 0).u8(tag(r.dtype));
  for (std::size_t i = 0; i < axes_of(r.rank); ++i) pb.u32(r.dims[i]);
}

// Dimension and permutation entry interleaved per axis, only below rank.
void p_transpose(Pb& pb, const TransposeCall& r) {
  pb.u8(r.rank).u8(tag(r.dtype));
  for (std::size_t i = 0; i < axes_of(r.rank); ++i) pb.u32(r.dims[i]).u8(r.perm[i]);
}

// Input and output dimension interleaved per axis, only below rank. Rank 8
// takes 66 bytes, past Pb's inline storage; Pb keeps them all.
void p_expand(Pb& pb, const ExpandCall& r) {
  pb.u8(r.rank).u8(tag(r.dtype));
  for (std::size_t i = 0; i < axes_of(r.rank); ++i) pb.u32(r.in_dims[i]).u32(r.out_dims[i]);
}

void p_attention(Pb& pb, const AttentionCall& r) {
  pb.u32(r.batch).u32(r.heads).u32(r.seq).u32(r.head_dim).u32(r.kv_heads);
  pb.u8(r.causal ? 1 : 0).u32(r.scale).u8(tag(r.dtype));
}

void p_lrn(Pb& pb, const LrnCall& r) {
  pb.u32(r.batch).u32(r.channels).u32(r.spatial).u32(r.size);
  pb.u32(r.alpha).u32(r.beta).u32(r.bias).u8(tag(r.dtype));
}

// The extension (weight_layout, act_quant, codebook) is left out: it does not
// change what the dequantize kernel computes. The last byte says whether the
// per-channel arrays are in use, since they are then inputs of the call.
void p_dequant(Pb& pb, const DequantizeCall& r) {
  pb.u64(r.n).u32(r.scale_count).u32(r.scale_divisor).u8(tag(r.quant_dtype)).u8(tag(r.dtype));
  pb.u32(r.scale).i32(r.zero_point).u8(r.scale_count != 0 && r.scales.present() ? 1 : 0);
}

// Three forms, each with its own op: plain (30 bytes), with the epilogue and
// activation quantization (33), and vector-quantized (34, ending in 1). The
// weight layout is not part of the identity.
std::uint16_t p_matmul_dequant(Pb& pb, const MatmulDequantCall& r) {
  pb.u32(r.m).u32(r.k).u32(r.n).u32(r.scale_count).u32(r.scale_divisor);
  pb.u8(tag(r.quant_dtype)).u8(tag(r.dtype)).u32(r.scale).i32(r.zero_point);
  const std::uint8_t has_addend = r.addend.present() ? 1 : 0;
  if (r.codebook.present()) {
    pb.u8(r.act_quant).u8(r.act).u8(has_addend).u8(1);
    return 117;
  }
  if (r.act_quant == 0 && r.act == 0 && has_addend == 0) return call_descriptor(CallKind::MatmulDequant).op;
  pb.u8(r.act_quant).u8(r.act).u8(has_addend);
  return 116;
}

}  // namespace

OpSignature op_signature(const KernelCall& call) {
  OpSignature sig;
  sig.op = call.descriptor().op;
  Pb& pb = sig.pb;
  std::visit(
      Overloaded{
          [&](const UnaryCall& r) { pb.u64(r.n).u16(r.aux).u8(tag(r.dtype)); },
          [&](const BinaryCall& r) { pb.u64(r.n).u16(r.aux).u8(tag(r.dtype)); },
          [&](const MatmulCall& r) { p_matmul(pb, r); },
          [&](const GemmCall& r) { p_gemm(pb, r); },
          [&](const ConvCall& r) { p_conv(pb, r); },
          [&](const Im2colCall& r) { p_im2col(pb, r); },
          [&](const NormCall& r) { p_norm(pb, r); },
          [&](const ReduceCall& r) { p_reduce(pb, r); },
          [&](const LayoutCall& r) { pb.u64(r.n).u8(tag(r.dtype)); },
          [&](const TransposeCall& r) { p_transpose(pb, r); },
          [&](const SoftmaxCall& r) { pb.u32(r.rows).u32(r.cols).u8(tag(r.dtype)); },
          [&](const PoolCall& r) { p_pool(pb, r); },
          [&](const AttentionCall& r) { p_attention(pb, r); },
          [&](const DecodeAttentionCall& r) {
            for (std::uint32_t v : {r.batch, r.heads, r.kv_heads, r.q_rows, r.past_len, r.new_len, r.head_dim}) {
              pb.u32(v);
            }
            pb.u32(r.scale).u8(tag(r.dtype));
          },
          [&](const KvCacheWriteCall& r) { pb.u32(r.groups).u32(r.bucket_rows).u32(r.new_rows).u32(r.row_bytes); },
          [&](const ExpandCall& r) { p_expand(pb, r); },
          // n comes first here, unlike the record order.
          [&](const RopeCall& r) { pb.u64(r.n).u32(r.head_dim).u8(tag(r.dtype)); },
          [&](const LrnCall& r) { p_lrn(pb, r); },
          [&](const WhereCall& r) { pb.u64(r.n).u8(tag(r.dtype)); },
          [&](const GatherCall& r) {
            pb.u64(r.outer).u64(r.axis_len).u64(r.inner).u64(r.index_count).u8(tag(r.index_dtype)).u8(tag(r.dtype));
          },
          [&](const CastCall& r) { pb.u64(r.n).u8(tag(r.src_dtype)).u8(tag(r.dtype)); },
          [&](const DequantizeCall& r) { p_dequant(pb, r); },
          [&](const DequantActivationCall& r) {
            pb.u64(r.n).u8(tag(r.quant_dtype)).u8(r.table).u8(tag(r.dtype)).u32(r.scale).i32(r.zero_point);
          },
          [&](const MatmulDequantCall& r) { sig.op = p_matmul_dequant(pb, r); },
          // Like expand, rank 8 takes 68 bytes and Pb keeps them all.
          [&](const BroadcastBinaryCall& r) {
            pb.u8(r.rank).u8(r.op).u8(r.order ? 1 : 0).u8(tag(r.dtype));
            for (std::size_t i = 0; i < axes_of(r.rank); ++i) pb.u32(r.in_dims[i]).u32(r.out_dims[i]);
          },
      },
      call.record());
  return sig;
}

}  // namespace tessary
