#include "exec/dispatch.h"

#include <array>

#include "compute/cpu/broadcast_binary.h"
#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/kv_cache_write.h"
#include "compute/cpu/lrn.h"
#include "compute/cpu/matmul_kernels.h"
#include "compute/cpu/norm.h"
#include "compute/cpu/reduce.h"
#include "compute/cpu/softmax.h"
#include "compute/cpu/layout_copy.h"
#include "types/dtype.h"

namespace tessary {

namespace {

template <class R, BackendResult<void> (*Fn)(const R&, Workspace&)>
BackendResult<void> adapt(const KernelCall& call, Workspace& ws) {
  const R* rec = call.get_if<R>();
  if (rec == nullptr) return std::unexpected(BackendError::unsupported(kMsgNoKernel));
  return Fn(*rec, ws);
}

// Lends the output and the inputs of a call to a kernel taking byte spans
// tagged with their slots.
template <std::size_t N>
struct Lent {
  std::array<cpu::KernelInput, N> in;
  cpu::KernelOutput out;
};

template <std::size_t N>
BackendResult<Lent<N>> lend(Workspace& ws, const BufferRef& output, const std::array<BufferRef, N>& inputs) {
  auto sb = ws.split_borrow(output, inputs);
  if (!sb) return std::unexpected(BackendError::buffer_error(output.slot));
  Lent<N> l;
  for (std::size_t i = 0; i < N; ++i) l.in[i] = cpu::KernelInput{sb->input(i), inputs[i].slot};
  l.out = cpu::KernelOutput{sb->output, output.slot};
  return l;
}

// The float unary ops follow the variant order: neg, then relu .. abs.
BackendResult<void> unary_float(const UnaryCall& c, Workspace& ws) {
  const auto k = static_cast<unsigned>(c.kind);
  const unsigned op = c.kind == CallKind::Neg ? 0 : k - static_cast<unsigned>(CallKind::Relu) + 1;
  auto l = lend<1>(ws, c.output, {c.input});
  if (!l) return std::unexpected(l.error());
  return cpu::unary_kernel(static_cast<cpu::UnaryOp>(op), c.dtype, l->in[0], l->out, c.n);
}

// The float binary ops: add, sub, mul, then div .. greater_or_equal.
BackendResult<void> binary_float(const BinaryCall& c, Workspace& ws) {
  const auto k = static_cast<unsigned>(c.kind);
  const unsigned op = k <= static_cast<unsigned>(CallKind::Mul) ? k - static_cast<unsigned>(CallKind::Add)
                                                                 : k - static_cast<unsigned>(CallKind::Div) + 3;
  auto l = lend<2>(ws, c.output, {c.a, c.b});
  if (!l) return std::unexpected(l.error());
  return cpu::binary_kernel(static_cast<cpu::BinaryOp>(op), c.dtype, l->in[0], l->in[1], l->out, c.n);
}

BackendResult<void> broadcast_float(const BroadcastBinaryCall& c, Workspace& ws) {
  cpu::BroadcastBinaryParams p;
  p.op = c.op;
  p.rank = c.rank;
  p.order = c.order;
  p.in_dims = c.in_dims;
  p.out_dims = c.out_dims;
  auto l = lend<2>(ws, c.output, {c.a, c.b});
  if (!l) return std::unexpected(l.error());
  return cpu::broadcast_binary_kernel(p, c.dtype, l->in[0], l->in[1], l->out);
}

BackendResult<void> softmax_float(const SoftmaxCall& c, Workspace& ws) {
  auto l = lend<1>(ws, c.output, {c.input});
  if (!l) return std::unexpected(l.error());
  return cpu::softmax_kernel(c, l->in[0], l->out);
}

BackendResult<void> reduce_float(const ReduceCall& c, Workspace& ws) {
  auto l = lend<1>(ws, c.output, {c.input});
  if (!l) return std::unexpected(l.error());
  return cpu::reduce_kernel(c, l->in[0], l->out);
}

BackendResult<void> lrn_float(const LrnCall& c, Workspace& ws) {
  auto l = lend<1>(ws, c.output, {c.input});
  if (!l) return std::unexpected(l.error());
  return cpu::lrn_kernel(c, l->in[0], l->out);
}

// Norms have optional operands: only the present ones are lent, the absent
// ones reach the kernel as empty inputs with no slot.
BackendResult<void> norm_float(const NormCall& c, Workspace& ws) {
  const std::array<BufferRef, 4> operands = {c.x, c.second, c.third, c.fourth};
  std::array<BufferRef, 4> present{};
  std::size_t count = 0;
  for (const BufferRef& r : operands) {
    if (r.present()) present[count++] = r;
  }
  auto sb = ws.split_borrow(c.output, std::span<const BufferRef>(present.data(), count));
  if (!sb) return std::unexpected(BackendError::buffer_error(c.output.slot));
  std::array<cpu::KernelInput, 4> in{};
  for (std::size_t i = 0, j = 0; i < operands.size(); ++i) {
    in[i] = operands[i].present() ? cpu::KernelInput{sb->input(j++), operands[i].slot}
                                  : cpu::KernelInput{{}, kSlotNone};
  }
  return cpu::norm_kernel(c, in[0], in[1], in[2], in[3], cpu::KernelOutput{sb->output, c.output.slot});
}

// The matmul family: the addend is lent only by the two add forms.
BackendResult<void> matmul_float(const MatmulCall& c, Workspace& ws) {
  if (c.kind == CallKind::MatmulAdd || c.kind == CallKind::MatmulAddActivation) {
    auto l = lend<3>(ws, c.output, {c.a, c.b, c.addend});
    if (!l) return std::unexpected(l.error());
    return cpu::matmul_kernel(c, l->in[0], l->in[1], l->in[2], l->out);
  }
  auto l = lend<2>(ws, c.output, {c.a, c.b});
  if (!l) return std::unexpected(l.error());
  return cpu::matmul_kernel(c, l->in[0], l->in[1], cpu::KernelInput{}, l->out);
}

BackendResult<void> gemm_float(const GemmCall& c, Workspace& ws) {
  auto l = lend<3>(ws, c.output, {c.a, c.b, c.c});
  if (!l) return std::unexpected(l.error());
  return cpu::gemm_kernel(c, l->in[0], l->in[1], l->in[2], l->out);
}

constexpr KernelFn kMatmulFloat = &adapt<MatmulCall, &matmul_float>;
constexpr KernelFn kGemmFloat = &adapt<GemmCall, &gemm_float>;
constexpr KernelFn kSoftmaxFloat = &adapt<SoftmaxCall, &softmax_float>;
constexpr KernelFn kReduceFloat = &adapt<ReduceCall, &reduce_float>;
constexpr KernelFn kLrnFloat = &adapt<LrnCall, &lrn_float>;
constexpr KernelFn kNormFloat = &adapt<NormCall, &norm_float>;
constexpr KernelFn kUnaryFloat = &adapt<UnaryCall, &unary_float>;
constexpr KernelFn kBinaryFloat = &adapt<BinaryCall, &binary_float>;
constexpr KernelFn kBroadcastFloat = &adapt<BroadcastBinaryCall, &broadcast_float>;
constexpr KernelFn kLayoutCopy = &adapt<LayoutCall, &layout_copy>;
constexpr KernelFn kConcatCopy = &adapt<BinaryCall, &concat_copy>;
constexpr KernelFn kKvCacheWrite = &adapt<KvCacheWriteCall, &kv_cache_write>;

// One row per variant. Kernels that this backend does not provide yet stay
// null and are reported as kMsgNoKernel, so such a call fails its run
// cleanly instead of reaching an undefined path.
std::array<Route, kCallKindCount> build_routes() {
  std::array<Route, kCallKindCount> t{};
  auto at = [&t](CallKind k) -> Route& { return t[static_cast<std::size_t>(k)]; };
  for (CallKind k : {CallKind::Bnot, CallKind::Succ, CallKind::Pred, CallKind::Xor, CallKind::And, CallKind::Or})
    at(k).routing = Routing::ByteOnly;
  for (CallKind k : {CallKind::DecodeAttention, CallKind::DecodeAttentionValid, CallKind::KvCacheWrite,
                     CallKind::Gather, CallKind::Cast, CallKind::Dequantize, CallKind::DequantActivation,
                     CallKind::MatmulActivation, CallKind::MatmulAdd, CallKind::MatmulAddActivation,
                     CallKind::MatmulDequant})
    at(k).routing = Routing::TypeGeneric;

  for (unsigned k = static_cast<unsigned>(CallKind::Relu); k <= static_cast<unsigned>(CallKind::Abs); ++k)
    t[k].float_path = kUnaryFloat;
  at(CallKind::Neg).float_path = kUnaryFloat;
  for (CallKind k : {CallKind::Add, CallKind::Sub, CallKind::Mul}) at(k).float_path = kBinaryFloat;
  for (unsigned k = static_cast<unsigned>(CallKind::Div); k <= static_cast<unsigned>(CallKind::GreaterOrEqual); ++k)
    t[k].float_path = kBinaryFloat;
  at(CallKind::BroadcastBinary).float_path = kBroadcastFloat;
  for (CallKind k : {CallKind::Softmax, CallKind::LogSoftmax}) at(k).float_path = kSoftmaxFloat;
  for (CallKind k : {CallKind::ReduceSum, CallKind::ReduceMean, CallKind::ReduceProd, CallKind::ReduceMin,
                     CallKind::ReduceMax})
    at(k).float_path = kReduceFloat;
  for (CallKind k : {CallKind::LayerNorm, CallKind::RmsNorm, CallKind::GroupNorm, CallKind::InstanceNorm,
                     CallKind::AddRmsNorm})
    at(k).float_path = kNormFloat;
  at(CallKind::Lrn).float_path = kLrnFloat;
  // matmul and gemm are float-capable; the fused forms are type-generic, so
  // their one kernel checks the element type itself.
  for (CallKind k : {CallKind::Matmul, CallKind::MatmulActivation, CallKind::MatmulAdd, CallKind::MatmulAddActivation})
    at(k).float_path = kMatmulFloat;
  at(CallKind::Gemm).float_path = kGemmFloat;

  for (CallKind k : {CallKind::Reshape, CallKind::Slice, CallKind::Pad}) {
    at(k).float_path = kLayoutCopy;
    at(k).byte_path = kLayoutCopy;
  }
  at(CallKind::Concat).float_path = kConcatCopy;
  at(CallKind::Concat).byte_path = kConcatCopy;
  at(CallKind::KvCacheWrite).float_path = kKvCacheWrite;

  at(CallKind::FusedSwiglu).float_refusal =
      "FusedSwiGlu: expected desugaring to Silu(x·Wg)⊙(x·Wu); degenerate node reached lowering";
  at(CallKind::Clip).float_refusal = "Clip: expected desugaring to Min(Max(x,lo),hi); degenerate node reached lowering";
  at(CallKind::Clip).byte_refusal = "Clip: (min, max) bounds not represented in UnaryCall";
  at(CallKind::Im2col).byte_refusal = "im2col/col2im: float-only (byte-ring patch gather is not defined)";
  at(CallKind::Col2im).byte_refusal = "im2col/col2im: float-only (byte-ring patch gather is not defined)";
  at(CallKind::RotaryEmbedding).byte_refusal = "RotaryEmbedding: float-only (byte-ring rotation is not defined)";
  at(CallKind::Lrn).byte_refusal = "Lrn: float-only (byte-ring LRN is not defined)";
  at(CallKind::BroadcastBinary).byte_refusal = "broadcast_binary: float-only (byte-domain broadcast not fused)";
  return t;
}

const std::array<Route, kCallKindCount>& routes() {
  static const std::array<Route, kCallKindCount> table = build_routes();
  return table;
}

}  // namespace

const Route& route_of(CallKind kind) { return routes()[static_cast<std::size_t>(kind) % kCallKindCount]; }

BackendResult<void> dispatch(const KernelCall& call, Workspace& ws) {
  const DTypeId dtype = call_dtype(call);
  if (dtype == DTypeId::F64) return std::unexpected(BackendError::unsupported(kMsgF64NotCompute));
  const Route& r = route_of(call.kind());
  bool float_side = false;
  switch (r.routing) {
    case Routing::FloatCapable:
      float_side = is_compute_type(dtype);
      break;
    case Routing::ByteOnly:
      float_side = false;
      break;
    case Routing::TypeGeneric:
      float_side = true;
      break;
  }
  const std::string_view refusal = float_side ? r.float_refusal : r.byte_refusal;
  if (!refusal.empty()) return std::unexpected(BackendError::unsupported(refusal));
  const KernelFn fn = float_side ? r.float_path : r.byte_path;
  if (fn == nullptr) return std::unexpected(BackendError::unsupported(kMsgNoKernel));
  return fn(call, ws);
}

}  // namespace tessary
