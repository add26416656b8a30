#include "compiler/lower_shape_args.h"

#include <algorithm>
#include <bit>

#include "compiler/operand_info.h"

namespace tessary {

namespace {

constexpr std::uint32_t kOneBits = 0x3F800000;  // 1.0f

std::uint32_t clamp32(std::uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(v); }

std::uint64_t mul_sat(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

// Product of dims [from, to) of a shape.
std::uint64_t dims_product(const ShapeDescriptor& s, std::size_t from, std::size_t to) {
  std::uint64_t p = 1;
  for (std::size_t i = from; i < to && i < 8; ++i) p = mul_sat(p, s.dims[i]);
  return p;
}

// Dimension i; a descriptor claiming more than eight dimensions has none past
// the eighth.
std::uint32_t dim(const ShapeDescriptor& s, std::size_t i) { return i < s.dims.size() ? clamp32(s.dims[i]) : 0; }

bool has_rank(const ShapeDescriptor* s, std::uint8_t rank) { return s != nullptr && s->rank == rank; }
bool has_rank_at_least(const ShapeDescriptor* s, std::uint8_t rank) { return s != nullptr && s->rank >= rank; }

// (extent - kernel) / stride + 1, in signed 32-bit arithmetic as the patch
// kernels count windows; formed in 64 bits so that no operand value can
// overflow the division.
std::uint32_t window_count(std::uint32_t extent, std::uint32_t kernel, std::uint32_t stride) {
  const auto span = static_cast<std::int64_t>(static_cast<std::int32_t>(extent - kernel));
  const auto step = static_cast<std::int64_t>(static_cast<std::int32_t>(stride));
  return static_cast<std::uint32_t>(span / step + 1);
}

bool is_pool(OpKind kind) { return kind == OpKind::MaxPool2d || kind == OpKind::AvgPool2d; }

constexpr std::string_view kMissingA = "matmul-shape-missing-a";
constexpr std::string_view kMissingB = "matmul-shape-missing-b";
constexpr std::string_view kRank2 = "matmul-rank-must-be-2";
constexpr std::string_view kKMismatch = "matmul-k-mismatch";

constexpr std::string_view kValidLen =
    "decode attention (valid_len form): q_rows must equal new_len and be at least 1 \u2014 the causal law pairs "
    "query row i with chunk key row i";
constexpr std::string_view kSixthOperand =
    "decode attention: the 6th operand must be a [q_rows, past+new] f32 mask (arbitrary visibility) or a [1] i32 "
    "valid_len scalar (realized-prefix + causal law)";

constexpr std::string_view kKvCacheRank =
    "kv_cache_write: cache operand must be rank-4 [batch, kv_heads, bucket, head_dim]";
constexpr std::string_view kKvNewRank =
    "kv_cache_write: new operand must be rank-4 [batch, kv_heads, new_rows, head_dim]";
constexpr std::string_view kKvAgree = "kv_cache_write: cache and new must agree on (batch, kv_heads, head_dim)";
constexpr std::string_view kKvNewRows = "kv_cache_write: new_rows must be 1..=bucket_rows (bucket_rows >= 1)";
constexpr std::string_view kKvOutDeclared = "kv_cache_write: output shape must be declared";
constexpr std::string_view kKvOutEqual = "kv_cache_write: output shape must equal the cache shape";
constexpr std::string_view kKvRowBytes =
    "kv_cache_write: head_dim rows must be a whole number of bytes (no sub-byte dtypes)";

CompileResult<void> derive_matmul(ShapeArgs& s, const ShapeDescriptor* a, const ShapeDescriptor* b) {
  if (a == nullptr) return std::unexpected(CompileError::shape_violation(kMissingA));
  if (b == nullptr) return std::unexpected(CompileError::shape_violation(kMissingB));
  if (a->rank != 2 || b->rank != 2) return std::unexpected(CompileError::shape_violation(kRank2));
  if (a->dims[1] != b->dims[0]) return std::unexpected(CompileError::shape_violation(kKMismatch));
  s.m = dim(*a, 0);
  s.k = dim(*a, 1);
  s.n = dim(*b, 1);
  return {};
}

CompileResult<void> derive_decode_form(ShapeArgs& s, const Graph& graph, const Node& node,
                                       const ShapeDescriptor* a) {
  if (has_rank_at_least(a, 3)) s.decode_q_rows = dim(*a, 2);
  const ShapeDescriptor* keys = operand_shape(graph, node, 1);
  if (has_rank(keys, 4)) s.key_rows = dim(*keys, 2);
  const ShapeDescriptor* fresh = operand_shape(graph, node, 3);
  if (has_rank(fresh, 4)) s.new_rows = dim(*fresh, 2);

  const ShapeDescriptor* visibility = operand_shape(graph, node, 5);
  const std::optional<DTypeId> vis_type = operand_dtype(graph, node, 5);
  if (visibility != nullptr && visibility->rank == 1 && vis_type == DTypeId::I32 &&
      visibility->total_elements() == 1) {
    if (s.decode_q_rows < 1 || s.decode_q_rows != s.new_rows) {
      return std::unexpected(CompileError::graph_validation(kValidLen));
    }
    s.valid_len_form = true;
    return {};
  }
  if (visibility != nullptr && visibility->rank == 2 && vis_type == DTypeId::F32) return {};
  return std::unexpected(CompileError::graph_validation(kSixthOperand));
}

CompileResult<void> derive_kv_cache_write(ShapeArgs& s, const Graph& graph, const Node& node) {
  const ShapeDescriptor* cache = operand_shape(graph, node, 0);
  if (!has_rank(cache, 4)) return std::unexpected(CompileError::graph_validation(kKvCacheRank));
  const ShapeDescriptor* fresh = operand_shape(graph, node, 1);
  if (!has_rank(fresh, 4)) return std::unexpected(CompileError::graph_validation(kKvNewRank));
  if (cache->dims[0] != fresh->dims[0] || cache->dims[1] != fresh->dims[1] || cache->dims[3] != fresh->dims[3]) {
    return std::unexpected(CompileError::graph_validation(kKvAgree));
  }
  const std::uint64_t bucket = cache->dims[2];
  const std::uint64_t rows = fresh->dims[2];
  if (rows < 1 || rows > bucket) return std::unexpected(CompileError::graph_validation(kKvNewRows));
  const ShapeDescriptor* out = result_shape(graph, node);
  if (out == nullptr) return std::unexpected(CompileError::graph_validation(kKvOutDeclared));
  if (out->rank != 4 || !std::equal(out->dims.begin(), out->dims.begin() + 4, cache->dims.begin())) {
    return std::unexpected(CompileError::graph_validation(kKvOutEqual));
  }
  const std::optional<std::uint32_t> elem = element_width(node.dtype);
  if (!elem) return std::unexpected(CompileError::graph_validation(kKvRowBytes));
  s.planes = clamp32(mul_sat(cache->dims[0], cache->dims[1]));
  s.bucket_rows = clamp32(bucket);
  s.new_rows = clamp32(rows);
  s.row_bytes = clamp32(mul_sat(cache->dims[3], *elem));
  return {};
}

}  // namespace

CompileResult<ShapeArgs> ShapeArgs::from_graph(const Graph& graph, NodeId node_id, const Node& node) {
  ShapeArgs s;
  if (!node.kind.is_op()) return s;
  const OpKind kind = node.kind.op;
  const ShapeDescriptor* a = operand_shape(graph, node, 0);
  const ShapeDescriptor* b = operand_shape(graph, node, 1);
  const ShapeDescriptor* out = result_shape(graph, node);
  s.elements = out != nullptr ? out->total_elements() : 0;

  if (kind == OpKind::Matmul || kind == OpKind::Gemm) {
    if (auto r = derive_matmul(s, a, b); !r) return std::unexpected(r.error());
  }

  if (has_rank_at_least(a, 4)) {
    s.batch = dim(*a, 0);
    s.channels = dim(*a, 1);
    s.height = dim(*a, 2);
    s.width = dim(*a, 3);
  }
  if (has_rank_at_least(b, 4)) {
    s.out_channels = dim(*b, 0);
    s.kernel_h = dim(*b, 2);
    s.kernel_w = dim(*b, 3);
  }

  const std::optional<ConvAttrs> conv = graph.conv_attrs(node_id);
  s.stride_h = conv && conv->stride_h != 0 ? conv->stride_h : 1;
  s.stride_w = conv && conv->stride_w != 0 ? conv->stride_w : 1;
  s.pad_h = conv ? conv->pad_h : 0;
  s.pad_w = conv ? conv->pad_w : 0;
  // A pooling window written in the program is the window: deriving it from
  // the declared result instead would turn a 3 x 3 window with stride 1 over
  // 8 x 8 (result 6 x 6) into a 1 x 1 window. The derivation below still
  // fills a size the record leaves at 0.
  if (is_pool(kind) && conv) {
    if (conv->kernel_h != 0) s.kernel_h = conv->kernel_h;
    if (conv->kernel_w != 0) s.kernel_w = conv->kernel_w;
  }

  if (has_rank_at_least(out, 4)) {
    s.out_height = dim(*out, 2);
    s.out_width = dim(*out, 3);
    // Pooling has no weight: its window comes from the declared result.
    if (s.kernel_h == 0 && s.out_height != 0) s.kernel_h = s.height / s.out_height;
    if (s.kernel_w == 0 && s.out_width != 0) s.kernel_w = s.width / s.out_width;
  }

  if (kind == OpKind::Im2col || kind == OpKind::Col2im) {
    s.kernel_h = conv ? conv->kernel_h : 0;
    s.kernel_w = conv ? conv->kernel_w : 0;
    const ShapeDescriptor* image = kind == OpKind::Im2col ? a : out;
    if (has_rank(image, 3)) {
      s.channels = dim(*image, 0);
      s.height = dim(*image, 1);
      s.width = dim(*image, 2);
      if (s.kernel_h != 0 && s.kernel_w != 0) {
        s.out_width = window_count(s.width, s.kernel_w, s.stride_w);
        s.out_height = window_count(s.height, s.kernel_h, s.stride_h);
      }
    }
  }

  switch (kind) {
    case OpKind::LayerNorm:
    case OpKind::RmsNorm:
    case OpKind::AddRmsNorm:
    case OpKind::Softmax:
    case OpKind::LogSoftmax:
      if (has_rank_at_least(a, 1)) {
        s.features = dim(*a, a->rank - 1);
        s.rows = clamp32(dims_product(*a, 0, a->rank - 1));
      }
      break;
    case OpKind::GroupNorm:
    case OpKind::InstanceNorm:
      if (has_rank_at_least(a, 2)) {
        s.batch = dim(*a, 0);
        s.channels = dim(*a, 1);
        s.per_sample = a->dims[0] == 0 ? 0 : clamp32(a->total_elements() / a->dims[0]);
      } else {
        s.channels = 0;
      }
      break;
    case OpKind::Attention: {
      if (s.batch != 0 && has_rank(a, 4)) {
        s.query_rows = dim(*a, 2);
        s.head_dim = dim(*a, 3);
        s.heads = dim(*a, 1);
        s.kv_heads = has_rank(b, 4) ? dim(*b, 1) : s.heads;
        const AttentionAttrs att = graph.attention_attrs(node_id);
        if (att.causal != kAttrAbsent) {
          s.scale_bits = att.scale_bits;
          s.causal = att.causal != 0;
        }
      }
      if (node.inputs.size() >= 6) {
        if (auto r = derive_decode_form(s, graph, node, a); !r) return std::unexpected(r.error());
      }
      break;
    }
    case OpKind::KvCacheWrite:
      if (auto r = derive_kv_cache_write(s, graph, node); !r) return std::unexpected(r.error());
      break;
    default:
      break;
  }

  const std::optional<GemmAttrs> gemm = graph.gemm_attrs(node_id);
  s.alpha_bits = gemm ? std::bit_cast<std::uint32_t>(gemm->alpha) : kOneBits;
  s.beta_bits = gemm ? std::bit_cast<std::uint32_t>(gemm->beta) : kOneBits;
  return s;
}

}  // namespace tessary
