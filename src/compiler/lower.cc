#include "compiler/lower.h"

#include <bit>

namespace tessary {

NodeAttrs NodeAttrs::from_graph(const Graph& graph, NodeId node_id, std::uint32_t width) {
  NodeAttrs a;
  a.quant = graph.quant_attrs(node_id);
  a.attention = graph.attention_attrs(node_id);
  a.width = static_cast<std::uint16_t>(width);
  return a;
}

namespace lower {

namespace {

constexpr std::string_view kCausalDecode =
    "decode attention (6-input Attention node) carries its visibility in the additive mask operand; "
    "AttentionAttrs::causal must be false \u2014 encode causal-within-chunk in the mask.";

constexpr std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

// The node's operand buffers and its output. An operand the node does not
// have is an absent reference: naming slot 0 instead would hand the kernel
// whatever value lives there (a layer_norm without gamma would scale by the
// first node's data). Optional operands are then skipped by the kernels, and
// a required one that is missing fails its run.
class Refs {
 public:
  explicit Refs(std::span<const BufferRef> buffers) : buffers_(buffers) {}
  BufferRef operand(std::size_t i) const { return i + 1 < buffers_.size() ? buffers_[i] : BufferRef::absent(); }
  BufferRef output() const { return buffers_.empty() ? BufferRef{0, 0, 0} : buffers_.back(); }

 private:
  std::span<const BufferRef> buffers_;
};

// The image and window geometry shared by the patch and pooling records.
template <class Call>
void set_window(Call& c, const ShapeArgs& s) {
  c.h = s.height;
  c.w = s.width;
  c.oh = s.out_height;
  c.ow = s.out_width;
  c.kh = s.kernel_h;
  c.kw = s.kernel_w;
  c.stride_h = s.stride_h;
  c.stride_w = s.stride_w;
}

CallKind same_numbered(OpKind kind) { return static_cast<CallKind>(static_cast<std::uint16_t>(kind)); }

bool is_unary_kind(OpKind k) {
  const auto d = static_cast<std::uint16_t>(k);
  return d <= 3 || (d >= 10 && d <= 34);
}
bool is_binary_kind(OpKind k) {
  const auto d = static_cast<std::uint16_t>(k);
  return (d >= 4 && d <= 9) || (d >= 35 && d <= 44);
}

}  // namespace

CompileResult<KernelCall> lower(std::span<const BufferRef> buffers, const ShapeArgs& s, const Node& node,
                                const NodeAttrs& attrs) {
  if (!node.kind.is_op()) return std::unexpected(CompileError::lowering_refusal());
  const OpKind kind = node.kind.op;
  if (static_cast<std::uint16_t>(kind) >= kOpKindCount) return std::unexpected(CompileError::unknown_op());
  const Refs r(buffers);
  const DTypeId dtype = node.dtype;

  if (is_unary_kind(kind) || kind == OpKind::Clip) {
    UnaryCall c;
    c.kind = kind == OpKind::Clip ? CallKind::Clip : same_numbered(kind);
    c.input = r.operand(0);
    c.output = r.output();
    c.n = s.elements;
    c.aux = attrs.width;
    c.dtype = dtype;
    return c;
  }
  if (is_binary_kind(kind) || kind == OpKind::Concat) {
    BinaryCall c;
    c.kind = same_numbered(kind);
    c.a = r.operand(0);
    c.b = r.operand(1);
    c.output = r.output();
    c.n = s.elements;
    c.aux = attrs.width;
    c.dtype = dtype;
    return c;
  }

  switch (kind) {
    case OpKind::Matmul:
    case OpKind::FusedSwiglu: {
      MatmulCall c;
      c.kind = kind == OpKind::Matmul ? CallKind::Matmul : CallKind::FusedSwiglu;
      c.a = r.operand(0);
      c.b = r.operand(1);
      c.output = r.output();
      c.m = s.m;
      c.k = s.k;
      c.n = s.n;
      c.dtype = dtype;
      c.packed = false;
      return c;
    }
    case OpKind::Gemm: {
      GemmCall c;
      c.a = r.operand(0);
      c.b = r.operand(1);
      c.c = r.operand(2);
      c.output = r.output();
      c.m = s.m;
      c.k = s.k;
      c.n = s.n;
      c.alpha = s.alpha_bits;
      c.beta = s.beta_bits;
      c.dtype = dtype;
      return c;
    }
    case OpKind::Conv2d:
    case OpKind::ConvTranspose2d: {
      ConvCall c;
      c.kind = same_numbered(kind);
      c.input = r.operand(0);
      c.weight = r.operand(1);
      c.output = r.output();
      c.batch = s.batch;
      c.cin = s.channels;
      c.cout = s.out_channels;
      c.h = s.height;
      c.w = s.width;
      c.oh = s.out_height;
      c.ow = s.out_width;
      c.kh = s.kernel_h;
      c.kw = s.kernel_w;
      c.stride_h = s.stride_h;
      c.stride_w = s.stride_w;
      c.pad_h = s.pad_h;
      c.pad_w = s.pad_w;
      c.dtype = dtype;
      return c;
    }
    case OpKind::Im2col:
    case OpKind::Col2im: {
      Im2colCall c;
      c.kind = same_numbered(kind);
      c.input = r.operand(0);
      c.output = r.output();
      c.planes = s.channels;
      set_window(c, s);
      c.dtype = dtype;
      return c;
    }
    case OpKind::LayerNorm:
    case OpKind::RmsNorm:
    case OpKind::GroupNorm:
    case OpKind::InstanceNorm:
    case OpKind::AddRmsNorm: {
      NormCall c;
      c.kind = same_numbered(kind);
      c.x = r.operand(0);
      c.second = r.operand(1);
      if (kind == OpKind::AddRmsNorm) {
        c.third = BufferRef::absent();
        c.fourth = r.operand(2);
      } else {
        c.third = r.operand(2);
        c.fourth = BufferRef::absent();
      }
      c.output = r.output();
      if (kind == OpKind::GroupNorm || kind == OpKind::InstanceNorm) {
        c.rows = s.batch;
        c.features = s.per_sample;
        c.channels = s.channels;
      } else {
        c.rows = s.rows;
        c.features = s.features;
      }
      c.groups = 0;
      c.epsilon = 0;
      c.dtype = dtype;
      return c;
    }
    case OpKind::ReduceSum:
    case OpKind::ReduceMean:
    case OpKind::ReduceProd:
    case OpKind::ReduceMin:
    case OpKind::ReduceMax:
    case OpKind::Cumsum: {
      ReduceCall c;
      c.kind = kind == OpKind::Cumsum ? CallKind::Cumsum : same_numbered(kind);
      c.input = r.operand(0);
      c.output = r.output();
      c.n = s.elements;
      c.dtype = dtype;
      return c;
    }
    case OpKind::Reshape:
    case OpKind::Slice:
    case OpKind::Pad: {
      LayoutCall c;
      c.kind = kind == OpKind::Pad ? CallKind::Pad : same_numbered(kind);
      c.input = r.operand(0);
      c.output = r.output();
      c.n = s.elements;
      c.dtype = dtype;
      return c;
    }
    case OpKind::Transpose: {
      TransposeCall c;
      c.input = r.operand(0);
      c.output = r.output();
      c.dtype = dtype;
      return c;
    }
    case OpKind::Softmax:
    case OpKind::LogSoftmax: {
      SoftmaxCall c;
      c.kind = same_numbered(kind);
      c.input = r.operand(0);
      c.output = r.output();
      c.rows = s.rows;
      c.cols = s.features;
      c.dtype = dtype;
      return c;
    }
    case OpKind::MaxPool2d:
    case OpKind::AvgPool2d:
    case OpKind::GlobalAvgPool: {
      PoolCall c;
      c.kind = same_numbered(kind);
      c.input = r.operand(0);
      c.output = r.output();
      c.batch = s.batch;
      c.channels = s.channels;
      set_window(c, s);
      c.dtype = dtype;
      return c;
    }
    case OpKind::Attention: {
      if (node.inputs.size() <= 5) {
        AttentionCall c;
        c.q = r.operand(0);
        c.k = r.operand(1);
        c.v = r.operand(2);
        c.output = r.output();
        c.batch = s.batch;
        c.heads = s.heads;
        c.seq = s.query_rows;
        c.head_dim = s.head_dim;
        c.kv_heads = s.kv_heads;
        c.causal = s.causal;
        c.scale = s.scale_bits;
        c.dtype = dtype;
        return c;
      }
      if (attrs.attention.causal == 1) return std::unexpected(CompileError::graph_validation(kCausalDecode));
      DecodeAttentionCall c;
      c.kind = s.valid_len_form ? CallKind::DecodeAttentionValid : CallKind::DecodeAttention;
      c.q = r.operand(0);
      c.past_k = r.operand(1);
      c.past_v = r.operand(2);
      c.new_k = r.operand(3);
      c.new_v = r.operand(4);
      c.visibility = r.operand(5);
      c.output = r.output();
      c.batch = s.batch;
      c.heads = s.heads;
      c.kv_heads = s.kv_heads;
      c.q_rows = s.decode_q_rows;
      c.past_len = s.key_rows;
      c.new_len = s.new_rows;
      c.head_dim = s.head_dim;
      c.scale = s.scale_bits;
      c.dtype = dtype;
      return c;
    }
    case OpKind::KvCacheWrite: {
      KvCacheWriteCall c;
      c.cache = r.operand(0);
      c.rows = r.operand(1);
      c.position = r.operand(2);
      c.output = r.output();
      c.groups = s.planes;
      c.bucket_rows = s.bucket_rows;
      c.new_rows = s.new_rows;
      c.row_bytes = s.row_bytes;
      return c;
    }
    case OpKind::Expand:
    case OpKind::Resize: {
      ExpandCall c;
      c.kind = kind == OpKind::Expand ? CallKind::Expand : CallKind::Resize;
      c.input = r.operand(0);
      c.output = r.output();
      c.dtype = dtype;
      return c;
    }
    case OpKind::RotaryEmbedding: {
      RopeCall c;
      c.x = r.operand(0);
      c.cos = r.operand(1);
      c.sin = r.operand(2);
      c.output = r.output();
      c.n = s.elements;
      c.dtype = dtype;
      return c;
    }
    case OpKind::Lrn: {
      LrnCall c;
      c.input = r.operand(0);
      c.output = r.output();
      c.size = 1;
      c.alpha = bits(0.0001f);
      c.beta = bits(0.75f);
      c.bias = bits(1.0f);
      c.dtype = dtype;
      return c;
    }
    case OpKind::Where: {
      WhereCall c;
      c.cond = r.operand(0);
      c.x = r.operand(1);
      c.y = r.operand(2);
      c.output = r.output();
      c.n = s.elements;
      c.dtype = dtype;
      return c;
    }
    case OpKind::Gather: {
      GatherCall c;
      c.data = r.operand(0);
      c.indices = r.operand(1);
      c.output = r.output();
      c.dtype = dtype;
      return c;
    }
    case OpKind::Cast: {
      CastCall c;
      c.input = r.operand(0);
      c.output = r.output();
      c.n = s.elements;
      c.dtype = dtype;
      return c;
    }
    case OpKind::Dequantize: {
      const QuantAttrs q = attrs.quant.value_or(QuantAttrs{});
      DequantizeCall c;
      c.q = r.operand(0);
      c.scales = r.operand(1);
      c.zero_points = r.operand(2);
      c.output = r.output();
      c.n = s.elements;
      c.scale_count = attrs.dequant.scale_count;
      c.scale_divisor = attrs.dequant.scale_divisor;
      c.quant_dtype = static_cast<DTypeId>(q.quant_dtype);
      c.dtype = dtype;
      c.scale = bits(q.scale);
      c.zero_point = q.zero_point;
      c.weight_layout = static_cast<std::uint8_t>(q.weight_layout);
      c.act_quant = static_cast<std::uint8_t>(q.act_quant);
      c.codebook = attrs.dequant.codebook;
      return c;
    }
    default:
      break;
  }
  return std::unexpected(CompileError::unknown_op());
}

}  // namespace lower

}  // namespace tessary
