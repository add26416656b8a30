#pragma once
// KernelCall: one kernel invocation of a compiled program. A call is one of
// the records below; records shared by several variants carry the variant in
// their `kind` field, the others name it in a static member, so `rec.kind`
// reads the same way for all of them.
//
// Fields are in canonical order: the archive writes them in this order and,
// apart from a few families, the signature takes them in this order too.
// Sizes are element counts unless a name says bytes; binary32 values are held
// as their bit patterns. Every member has a default, and optional references
// default to absent.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>

#include "compute/buffer_ref.h"
#include "compute/call_kind.h"
#include "compute/op_signature.h"
#include "types/dtype.h"

namespace tessary {

// One-input element-wise ops and clip.
struct UnaryCall {
  CallKind kind = CallKind::Neg;
  BufferRef input{}, output{};
  std::uint64_t n = 0;
  std::uint16_t aux = 0;  // compile width; read by no kernel, part of the signature
  DTypeId dtype{};
  friend bool operator==(const UnaryCall&, const UnaryCall&) = default;
};

// Two-input element-wise ops and concat.
struct BinaryCall {
  CallKind kind = CallKind::Add;
  BufferRef a{}, b{}, output{};
  std::uint64_t n = 0;
  std::uint16_t aux = 0;
  DTypeId dtype{};
  friend bool operator==(const BinaryCall&, const BinaryCall&) = default;
};

// matmul, fused_swiglu and the three fused epilogue variants. act and addend
// belong to the record only where the variant's descriptor says so
// (has_act, has_addend); elsewhere they stay at 0 and absent, which is what
// decoding gives.
struct MatmulCall {
  CallKind kind = CallKind::Matmul;
  BufferRef a{}, b{}, output{};  // [m, k], [k, n] (or packed panels), [m, n]
  std::uint32_t m = 0, k = 0, n = 0;
  DTypeId dtype{};
  bool packed = false;  // b is stored in 16-column panels
  BufferRef addend{};  // [m, n], added to the product
  std::uint8_t act = 0;  // fused activation id, applied last
  friend bool operator==(const MatmulCall&, const MatmulCall&) = default;
};

struct GemmCall {
  static constexpr CallKind kind = CallKind::Gemm;
  BufferRef a{}, b{}, c{}, output{};
  std::uint32_t m = 0, k = 0, n = 0;
  std::uint64_t alpha = 0, beta = 0;  // binary32 bits in the low 32 bits
  DTypeId dtype{};
  friend bool operator==(const GemmCall&, const GemmCall&) = default;
};

// conv2d, conv_transpose_2d. Input [batch, cin, h, w], weight
// [cout, cin, kh, kw], output [batch, cout, oh, ow]; a stride of 0 counts as 1.
struct ConvCall {
  CallKind kind = CallKind::Conv2d;
  BufferRef input{}, weight{}, output{};
  std::uint32_t batch = 0, cin = 0, cout = 0, h = 0, w = 0, oh = 0, ow = 0, kh = 0, kw = 0;
  std::uint32_t stride_h = 0, stride_w = 0, pad_h = 0, pad_w = 0;
  DTypeId dtype{};
  friend bool operator==(const ConvCall&, const ConvCall&) = default;
};

// im2col, col2im. planes is images times channels.
struct Im2colCall {
  CallKind kind = CallKind::Im2col;
  BufferRef input{}, output{};
  std::uint32_t planes = 0, h = 0, w = 0, oh = 0, ow = 0, kh = 0, kw = 0;
  std::uint32_t stride_h = 0, stride_w = 0;
  DTypeId dtype{};
  friend bool operator==(const Im2colCall&, const Im2colCall&) = default;
};

// The five norms. layer/rms/group/instance norm: second = gamma, third = beta,
// fourth absent. add_rms_norm: second = residual, third absent, fourth = gamma.
struct NormCall {
  CallKind kind = CallKind::LayerNorm;
  BufferRef x{}, second{}, third{}, fourth{}, output{};
  std::uint32_t rows = 0, features = 0, channels = 0, groups = 0;
  std::uint64_t epsilon = 0;  // binary32 bits in the low 32 bits; 0 selects the default
  DTypeId dtype{};
  friend bool operator==(const NormCall&, const NormCall&) = default;
};

// The five reductions and cumsum. Only the first rank dims are meaningful.
struct ReduceCall {
  CallKind kind = CallKind::ReduceSum;
  BufferRef input{}, output{};
  std::uint64_t n = 0;  // input element count
  std::uint8_t rank = 0;  // 0 to 8
  std::uint32_t axes = 0;  // bit i set: axis i is reduced
  bool keepdims = false;
  DTypeId dtype{};
  std::array<std::uint32_t, 8> dims{};
  friend bool operator==(const ReduceCall&, const ReduceCall&) = default;
};

// reshape, slice, pad: copy n elements.
struct LayoutCall {
  CallKind kind = CallKind::Reshape;
  BufferRef input{}, output{};
  std::uint64_t n = 0;
  DTypeId dtype{};
  friend bool operator==(const LayoutCall&, const LayoutCall&) = default;
};

struct TransposeCall {
  static constexpr CallKind kind = CallKind::Transpose;
  BufferRef input{}, output{};
  std::uint8_t rank = 0;  // 1 to 8
  std::array<std::uint32_t, 8> dims{};  // input dimensions
  std::array<std::uint8_t, 8> perm{};
  DTypeId dtype{};
  friend bool operator==(const TransposeCall&, const TransposeCall&) = default;
};

// softmax, log_softmax.
struct SoftmaxCall {
  CallKind kind = CallKind::Softmax;
  BufferRef input{}, output{};
  std::uint32_t rows = 0, cols = 0;
  DTypeId dtype{};
  friend bool operator==(const SoftmaxCall&, const SoftmaxCall&) = default;
};

// max_pool_2d, avg_pool_2d, global_avg_pool. oh, ow, kh, kw and the strides
// count as 1 when 0.
struct PoolCall {
  CallKind kind = CallKind::MaxPool2d;
  BufferRef input{}, output{};
  std::uint32_t batch = 0, channels = 0, h = 0, w = 0, oh = 0, ow = 0, kh = 0, kw = 0;
  std::uint32_t stride_h = 0, stride_w = 0;
  DTypeId dtype{};
  friend bool operator==(const PoolCall&, const PoolCall&) = default;
};

struct AttentionCall {
  static constexpr CallKind kind = CallKind::Attention;
  BufferRef q{}, k{}, v{}, output{};
  std::uint32_t batch = 0, heads = 0, seq = 0, head_dim = 0;
  std::uint32_t kv_heads = 0;  // 0 means heads
  bool causal = false;
  std::uint32_t scale = 0;  // binary32 bits
  DTypeId dtype{};
  friend bool operator==(const AttentionCall&, const AttentionCall&) = default;
};

// decode_attention (visibility is a mask) and decode_attention_valid
// (visibility is a one-element valid length).
struct DecodeAttentionCall {
  CallKind kind = CallKind::DecodeAttention;
  BufferRef q{}, past_k{}, past_v{}, new_k{}, new_v{}, visibility{}, output{};
  std::uint32_t batch = 0, heads = 0, kv_heads = 0, q_rows = 0, past_len = 0, new_len = 0, head_dim = 0;
  std::uint32_t scale = 0;  // binary32 bits
  DTypeId dtype{};
  friend bool operator==(const DecodeAttentionCall&, const DecodeAttentionCall&) = default;
};

// Moves bytes only, so it has no element type; call_dtype reports u8.
struct KvCacheWriteCall {
  static constexpr CallKind kind = CallKind::KvCacheWrite;
  BufferRef cache{}, rows{}, position{}, output{};
  std::uint32_t groups = 0, bucket_rows = 0, new_rows = 0, row_bytes = 0;
  friend bool operator==(const KvCacheWriteCall&, const KvCacheWriteCall&) = default;
};

// expand, resize. All eight entries of both arrays are stored whatever the rank.
struct ExpandCall {
  CallKind kind = CallKind::Expand;
  BufferRef input{}, output{};
  std::uint8_t rank = 0;  // 1 to 8
  std::array<std::uint32_t, 8> in_dims{};
  std::array<std::uint32_t, 8> out_dims{};
  DTypeId dtype{};
  friend bool operator==(const ExpandCall&, const ExpandCall&) = default;
};

struct RopeCall {
  static constexpr CallKind kind = CallKind::RotaryEmbedding;
  BufferRef x{}, cos{}, sin{}, output{};
  std::uint32_t head_dim = 0;
  std::uint64_t n = 0;
  DTypeId dtype{};
  friend bool operator==(const RopeCall&, const RopeCall&) = default;
};

struct LrnCall {
  static constexpr CallKind kind = CallKind::Lrn;
  BufferRef input{}, output{};
  std::uint32_t batch = 0, channels = 0, spatial = 0, size = 0;
  std::uint32_t alpha = 0, beta = 0, bias = 0;  // binary32 bits
  DTypeId dtype{};
  friend bool operator==(const LrnCall&, const LrnCall&) = default;
};

struct WhereCall {
  static constexpr CallKind kind = CallKind::Where;
  BufferRef cond{}, x{}, y{}, output{};
  std::uint64_t n = 0;
  DTypeId dtype{};
  friend bool operator==(const WhereCall&, const WhereCall&) = default;
};

// data [outer, axis_len, inner] gathered into [outer, index_count, inner].
struct GatherCall {
  static constexpr CallKind kind = CallKind::Gather;
  BufferRef data{}, indices{}, output{};
  std::uint64_t outer = 0, axis_len = 0, inner = 0, index_count = 0;
  DTypeId index_dtype{};
  DTypeId dtype{};  // of data and output
  friend bool operator==(const GatherCall&, const GatherCall&) = default;
};

struct CastCall {
  static constexpr CallKind kind = CallKind::Cast;
  BufferRef input{}, output{};
  std::uint64_t n = 0;
  DTypeId src_dtype{};
  DTypeId dtype{};  // destination
  friend bool operator==(const CastCall&, const CastCall&) = default;
};

// weight_layout, act_quant and codebook are the extension: all zero/absent is
// the plain form. The dequantize kernel ignores them; load-time fusion moves
// them into the matmul_dequant that consumes the result.
struct DequantizeCall {
  static constexpr CallKind kind = CallKind::Dequantize;
  BufferRef q{}, scales{}, zero_points{}, output{};  // scales and zero_points optional, together
  std::uint64_t n = 0;
  std::uint32_t scale_count = 0;  // 0 means per-tensor
  std::uint32_t scale_divisor = 0;
  DTypeId quant_dtype{};
  DTypeId dtype{};
  std::uint32_t scale = 0;  // binary32 bits, per-tensor
  std::int32_t zero_point = 0;
  std::uint8_t weight_layout = 0;  // 0 ROW_MAJOR, 1 OUTPUT_MAJOR
  std::uint8_t act_quant = 0;      // 0 W8A32, 1 W8A8_TOKEN_SYM
  BufferRef codebook{};
  friend bool operator==(const DequantizeCall&, const DequantizeCall&) = default;
};

struct DequantActivationCall {
  static constexpr CallKind kind = CallKind::DequantActivation;
  BufferRef input{}, output{};
  std::uint64_t n = 0;
  DTypeId quant_dtype{};
  std::uint8_t table = 0;  // activation-table id
  DTypeId dtype{};
  std::uint32_t scale = 0;  // binary32 bits
  std::int32_t zero_point = 0;
  friend bool operator==(const DequantActivationCall&, const DequantActivationCall&) = default;
};

struct MatmulDequantCall {
  static constexpr CallKind kind = CallKind::MatmulDequant;
  BufferRef a{}, w{}, scales{}, zero_points{}, output{};  // scales and zero_points optional
  std::uint32_t m = 0, k = 0, n = 0;
  std::uint32_t scale_count = 0, scale_divisor = 0;
  DTypeId quant_dtype{};
  DTypeId dtype{};
  std::uint32_t scale = 0;  // binary32 bits
  std::int32_t zero_point = 0;
  std::uint8_t weight_layout = 0;  // 0 ROW_MAJOR, 1 OUTPUT_MAJOR
  std::uint8_t act_quant = 0;      // 0 W8A32, 1 W8A8_TOKEN_SYM
  std::uint8_t act = 0;            // applied after the addend
  BufferRef addend{};                // optional [m, n]
  BufferRef codebook{};              // optional
  friend bool operator==(const MatmulDequantCall&, const MatmulDequantCall&) = default;
};

// a is the broadcast operand, b the full one. Only the first rank entries of
// the dimension arrays are meaningful.
struct BroadcastBinaryCall {
  static constexpr CallKind kind = CallKind::BroadcastBinary;
  BufferRef a{}, b{}, output{};
  std::uint8_t rank = 0;  // 1 to 8
  std::uint8_t op = 0;    // 0 add, 1 sub, 2 mul
  bool order = false;     // operand order for sub
  DTypeId dtype{};
  std::array<std::uint32_t, 8> in_dims{};
  std::array<std::uint32_t, 8> out_dims{};
  friend bool operator==(const BroadcastBinaryCall&, const BroadcastBinaryCall&) = default;
};

// Alternatives in RecordKind order.
using CallRecord =
    std::variant<UnaryCall, BinaryCall, MatmulCall, GemmCall, ConvCall, Im2colCall, NormCall, ReduceCall, LayoutCall,
                 TransposeCall, SoftmaxCall, PoolCall, AttentionCall, DecodeAttentionCall, KvCacheWriteCall, ExpandCall,
                 RopeCall, LrnCall, WhereCall, GatherCall, CastCall, DequantizeCall, DequantActivationCall,
                 MatmulDequantCall, BroadcastBinaryCall>;

static_assert(std::variant_size_v<CallRecord> == static_cast<std::size_t>(RecordKind::Invalid));

namespace kernel_call_detail {
template <class R, class V>
struct IsAlternative : std::false_type {};
template <class R, class... Ts>
struct IsAlternative<R, std::variant<Ts...>> : std::bool_constant<(std::is_same_v<R, Ts> || ...)> {};
}  // namespace kernel_call_detail

template <class R>
concept CallRecordType = kernel_call_detail::IsAlternative<std::remove_cvref_t<R>, CallRecord>::value;

class KernelCall {
 public:
  template <CallRecordType R>
  KernelCall(R record) : rec_(std::move(record)) {}  // NOLINT: implicit by design

  CallKind kind() const {
    return std::visit([](const auto& r) { return static_cast<CallKind>(r.kind); }, rec_);
  }
  const CallDescriptor& descriptor() const { return call_descriptor(kind()); }
  RecordKind record_kind() const { return static_cast<RecordKind>(rec_.index()); }

  const CallRecord& record() const { return rec_; }
  CallRecord& record() { return rec_; }

  template <CallRecordType R>
  const R* get_if() const { return std::get_if<R>(&rec_); }
  template <CallRecordType R>
  R* get_if() { return std::get_if<R>(&rec_); }

  // The kind is a variant that carries the held record. Only a record built
  // with a kind from another family fails this; the decoder never builds one.
  bool well_formed() const { return descriptor().record == record_kind(); }

  friend bool operator==(const KernelCall&, const KernelCall&) = default;

 private:
  CallRecord rec_;
};

// A call's buffer references in operand order, the output last. At most
// seven; held inline so asking costs no allocation.
class CallBuffers {
 public:
  static constexpr std::size_t kCapacity = 7;

  // No record has more than seven references (decode attention, and
  // matmul_dequant with every optional operand), so the guard never drops one.
  void push(const BufferRef& r) {
    if (count_ < kCapacity) refs_[count_++] = r;
  }
  std::size_t size() const { return count_; }
  const BufferRef& operator[](std::size_t i) const { return refs_[i]; }
  const BufferRef* begin() const { return refs_.data(); }
  const BufferRef* end() const { return refs_.data() + count_; }
  const BufferRef& output() const { return refs_[count_ - 1]; }  // every call has one
  // Every reference but the output. Views this object, so not offered on a
  // temporary (a range-for over buffers(call).inputs() would dangle).
  std::span<const BufferRef> inputs() const& { return {refs_.data(), count_ == 0 ? 0 : count_ - 1}; }
  std::span<const BufferRef> inputs() const&& = delete;

 private:
  std::array<BufferRef, kCapacity> refs_{};
  std::size_t count_ = 0;
};

// Operand references, the output last. Absent references are left out where
// a variant's operand is optional by its fields (dequantize, matmul_dequant)
// and kept (slot none) elsewhere; consumers skip those. A NormCall returns
// all five references, so add_rms_norm's gamma (the fourth) counts as an
// input: its label and the fusion reader counts depend on it.
CallBuffers buffers(const KernelCall& call);

// The element type the call computes in: its record's dtype; u8 for
// kv_cache_write, which only moves bytes.
DTypeId call_dtype(const KernelCall& call);

// The call's labelling identity: the op value of its variant and its
// non-reference fields as parameter bytes.
OpSignature op_signature(const KernelCall& call);

}  // namespace tessary
