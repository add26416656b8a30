#include "compute/kernel_call.h"

#include "compute/overloaded.h"

namespace tessary {

// CallRecord's alternatives must sit at their RecordKind positions, since
// record_kind() and the descriptor table rely on it.
template <RecordKind K, class R>
constexpr bool at = std::is_same_v<std::variant_alternative_t<static_cast<std::size_t>(K), CallRecord>, R>;
static_assert(at<RecordKind::Unary, UnaryCall> && at<RecordKind::Binary, BinaryCall> &&
              at<RecordKind::Matmul, MatmulCall> && at<RecordKind::Gemm, GemmCall> && at<RecordKind::Conv, ConvCall> &&
              at<RecordKind::Im2col, Im2colCall> && at<RecordKind::Norm, NormCall> &&
              at<RecordKind::Reduce, ReduceCall> && at<RecordKind::Layout, LayoutCall> &&
              at<RecordKind::Transpose, TransposeCall> && at<RecordKind::Softmax, SoftmaxCall> &&
              at<RecordKind::Pool, PoolCall> && at<RecordKind::Attention, AttentionCall> &&
              at<RecordKind::DecodeAttention, DecodeAttentionCall> &&
              at<RecordKind::KvCacheWrite, KvCacheWriteCall> && at<RecordKind::Expand, ExpandCall> &&
              at<RecordKind::Rope, RopeCall> && at<RecordKind::Lrn, LrnCall> && at<RecordKind::Where, WhereCall> &&
              at<RecordKind::Gather, GatherCall> && at<RecordKind::Cast, CastCall> &&
              at<RecordKind::Dequantize, DequantizeCall> &&
              at<RecordKind::DequantActivation, DequantActivationCall> &&
              at<RecordKind::MatmulDequant, MatmulDequantCall> &&
              at<RecordKind::BroadcastBinary, BroadcastBinaryCall>);

namespace {

template <class... Refs>
CallBuffers list(const Refs&... refs) {
  CallBuffers out;
  (out.push(refs), ...);
  return out;
}

// Per-channel scale arrays are operands only when the call uses them.
template <class R>
bool uses_scale_arrays(const R& r) {
  return r.scale_count != 0 && r.scales.present();
}

}  // namespace

CallBuffers buffers(const KernelCall& call) {
  return std::visit(
      Overloaded{
          [](const UnaryCall& r) { return list(r.input, r.output); },
          [](const BinaryCall& r) { return list(r.a, r.b, r.output); },
          [](const MatmulCall& r) {
            return call_descriptor(r.kind).has_addend ? list(r.a, r.b, r.addend, r.output) : list(r.a, r.b, r.output);
          },
          [](const GemmCall& r) { return list(r.a, r.b, r.c, r.output); },
          [](const ConvCall& r) { return list(r.input, r.weight, r.output); },
          [](const Im2colCall& r) { return list(r.input, r.output); },
          [](const NormCall& r) { return list(r.x, r.second, r.third, r.fourth, r.output); },
          [](const ReduceCall& r) { return list(r.input, r.output); },
          [](const LayoutCall& r) { return list(r.input, r.output); },
          [](const TransposeCall& r) { return list(r.input, r.output); },
          [](const SoftmaxCall& r) { return list(r.input, r.output); },
          [](const PoolCall& r) { return list(r.input, r.output); },
          [](const AttentionCall& r) { return list(r.q, r.k, r.v, r.output); },
          [](const DecodeAttentionCall& r) {
            return list(r.q, r.past_k, r.past_v, r.new_k, r.new_v, r.visibility, r.output);
          },
          [](const KvCacheWriteCall& r) { return list(r.cache, r.rows, r.position, r.output); },
          [](const ExpandCall& r) { return list(r.input, r.output); },
          [](const RopeCall& r) { return list(r.x, r.cos, r.sin, r.output); },
          [](const LrnCall& r) { return list(r.input, r.output); },
          [](const WhereCall& r) { return list(r.cond, r.x, r.y, r.output); },
          [](const GatherCall& r) { return list(r.data, r.indices, r.output); },
          [](const CastCall& r) { return list(r.input, r.output); },
          [](const DequantizeCall& r) {
            // The codebook is never an operand of the dequantize kernel.
            return uses_scale_arrays(r) ? list(r.q, r.scales, r.zero_points, r.output) : list(r.q, r.output);
          },
          [](const DequantActivationCall& r) { return list(r.input, r.output); },
          [](const MatmulDequantCall& r) {
            CallBuffers out = list(r.a, r.w);
            if (uses_scale_arrays(r)) {
              out.push(r.scales);
              out.push(r.zero_points);
            }
            if (r.codebook.present()) out.push(r.codebook);
            if (r.addend.present()) out.push(r.addend);
            out.push(r.output);
            return out;
          },
          [](const BroadcastBinaryCall& r) { return list(r.a, r.b, r.output); },
      },
      call.record());
}

DTypeId call_dtype(const KernelCall& call) {
  return std::visit(Overloaded{
                        [](const KvCacheWriteCall&) { return DTypeId::U8; },
                        [](const auto& r) { return r.dtype; },
                    },
                    call.record());
}

}  // namespace tessary
