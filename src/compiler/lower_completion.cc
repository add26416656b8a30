#include "compiler/lower_completion.h"

#include <bit>
#include <cstring>
#include <optional>

#include "compiler/operand_info.h"

namespace tessary {

namespace {

CompileResult<void> refuse() { return std::unexpected(CompileError::lowering_refusal()); }

std::uint64_t mul_sat(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

std::uint64_t product(const ShapeDescriptor& s, std::size_t from) {
  std::uint64_t p = 1;
  for (std::size_t i = from; i < s.rank && i < 8; ++i) p = mul_sat(p, s.dims[i]);
  return p;
}

// Signed 64-bit value number `index` of a constant, if the bytes hold it.
std::optional<std::int64_t> i64_at(const ConstantEntry& c, std::size_t index) {
  if (index >= c.bytes.size() / 8) return std::nullopt;
  std::int64_t v = 0;
  std::memcpy(&v, c.bytes.data() + index * 8, sizeof v);  // x86-64 is little-endian
  return v;
}

// The width of a whole-byte element type; sub-byte and unknown types have none.
std::optional<std::uint64_t> element_size(DTypeId t) {
  const std::optional<std::uint32_t> w = element_width(t);
  if (!w) return std::nullopt;
  return *w;
}

CompileResult<void> complete_slice(LayoutCall& c, const Graph& graph, const Node& node) {
  if (node.inputs.size() != 3) return refuse();
  const ShapeDescriptor* data = operand_shape(graph, node, 0);
  if (data == nullptr || data->rank == 0) return refuse();
  const ConstantEntry* start_c = operand_constant(graph, node, 1);
  const ConstantEntry* end_c = operand_constant(graph, node, 2);
  if (start_c == nullptr || end_c == nullptr) return refuse();
  const std::optional<std::int64_t> start = i64_at(*start_c, 0);
  const std::optional<std::int64_t> end = i64_at(*end_c, 0);
  if (!start || !end) return refuse();
  const std::optional<std::uint64_t> elem = element_size(node.dtype);
  if (!elem) return refuse();

  const auto d0 = data->dims[0];
  auto clamp = [d0](std::int64_t v) -> std::uint64_t {
    if (v <= 0) return 0;
    return static_cast<std::uint64_t>(v) > d0 ? d0 : static_cast<std::uint64_t>(v);
  };
  const std::uint64_t lo = clamp(*start);
  const std::uint64_t hi = clamp(*end);
  if (hi < lo) return refuse();
  const std::uint64_t row_bytes = mul_sat(product(*data, 1), *elem);
  c.input.offset = mul_sat(lo, row_bytes);
  c.input.len = mul_sat(hi - lo, row_bytes);
  return {};
}

CompileResult<void> complete_transpose(TransposeCall& c, const Graph& graph, const Node& node) {
  const ShapeDescriptor* data = operand_shape(graph, node, 0);
  if (data == nullptr || data->rank < 1 || data->rank > 8) return refuse();
  const ConstantEntry* perm = operand_constant(graph, node, 1);
  if (perm == nullptr) return refuse();
  const std::uint8_t r = data->rank;
  c.rank = r;
  for (std::uint8_t i = 0; i < r; ++i) {
    c.dims[i] = static_cast<std::uint32_t>(data->dims[i]);
    const std::optional<std::int64_t> v = i64_at(*perm, i);
    if (!v || *v < 0 || *v >= r) return refuse();
    c.perm[i] = static_cast<std::uint8_t>(*v);
  }
  return {};
}

CompileResult<void> complete_lrn(LrnCall& c, const Graph& graph, NodeId node_id, const Node& node) {
  const ShapeDescriptor* x = operand_shape(graph, node, 0);
  if (x == nullptr || x->rank < 2) return refuse();
  c.batch = static_cast<std::uint32_t>(x->dims[0]);
  c.channels = static_cast<std::uint32_t>(x->dims[1]);
  c.spatial = static_cast<std::uint32_t>(product(*x, 2));
  const LrnAttrs a = graph.lrn_attrs(node_id).value_or(LrnAttrs{});
  c.size = a.size;
  c.alpha = std::bit_cast<std::uint32_t>(a.alpha);
  c.beta = std::bit_cast<std::uint32_t>(a.beta);
  c.bias = std::bit_cast<std::uint32_t>(a.bias);
  return {};
}

CompileResult<void> complete_rope(RopeCall& c, const Graph& graph, const Node& node) {
  const ShapeDescriptor* x = operand_shape(graph, node, 0);
  if (x == nullptr || x->rank == 0 || x->rank > 8) return refuse();
  c.head_dim = static_cast<std::uint32_t>(x->dims[x->rank - 1]);
  return {};
}

// expand and resize: equal ranks 1..8; expand also needs every input dim to
// be 1 or the output dim at that position.
CompileResult<void> complete_expand(ExpandCall& c, const Graph& graph, const Node& node) {
  const ShapeDescriptor* in = operand_shape(graph, node, 0);
  const ShapeDescriptor* out = result_shape(graph, node);
  if (in == nullptr || out == nullptr) return refuse();
  if (in->rank != out->rank || in->rank < 1 || in->rank > 8) return refuse();
  for (std::uint8_t i = 0; i < in->rank; ++i) {
    const auto a = static_cast<std::uint32_t>(in->dims[i]);
    const auto b = static_cast<std::uint32_t>(out->dims[i]);
    if (c.kind == CallKind::Expand && a != 1 && a != b) return refuse();
    c.in_dims[i] = a;
    c.out_dims[i] = b;
  }
  c.rank = in->rank;
  return {};
}

void complete_reduce(ReduceCall& c, const Graph& graph, NodeId node_id, const Node& node) {
  if (const ShapeDescriptor* in = operand_shape(graph, node, 0); in != nullptr && in->rank <= 8) {
    c.n = in->total_elements();
    c.rank = in->rank;
    for (std::uint8_t i = 0; i < in->rank; ++i) {
      c.dims[i] = in->dims[i] > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(in->dims[i]);
    }
  }
  const ReduceAttrs a = graph.reduce_attrs(node_id);
  if (a.keepdims != kAttrAbsent) {
    c.axes = a.axes_mask;
    c.keepdims = a.keepdims != 0;
  } else {
    c.axes = 0;
    c.keepdims = false;
  }
}

// Only leading padding of axis 0 is representable: the output window starts
// past the padded rows and the copy fills exactly the data's bytes.
CompileResult<void> complete_pad(LayoutCall& c, const Graph& graph, const Node& node) {
  if (node.inputs.size() < 2) return refuse();
  const ShapeDescriptor* data = operand_shape(graph, node, 0);
  if (data == nullptr || data->rank < 1) return refuse();
  const ConstantEntry* pads = operand_constant(graph, node, 1);
  if (pads == nullptr) return refuse();
  const std::optional<std::int64_t> before0 = i64_at(*pads, 0);
  if (!before0) return refuse();
  const std::uint8_t r = data->rank;
  for (std::size_t axis = 1; axis < r; ++axis) {
    for (std::size_t at : {axis, r + axis}) {
      const std::optional<std::int64_t> v = i64_at(*pads, at);
      if (v && *v != 0) return refuse();
    }
  }
  const std::optional<std::uint64_t> elem = element_size(node.dtype);
  if (!elem) return refuse();
  const std::uint64_t lead = *before0 > 0 ? static_cast<std::uint64_t>(*before0) : 0;
  const std::uint64_t total_bytes = mul_sat(product(*data, 0), *elem);
  c.output.offset = mul_sat(lead, mul_sat(product(*data, 1), *elem));
  c.output.len = total_bytes;
  c.input.len = total_bytes;
  return {};
}

// A checked product: nothing when it overflows 64 bits.
std::optional<std::uint64_t> checked_product(const ShapeDescriptor& s, std::size_t from, std::size_t to) {
  std::uint64_t p = 1;
  for (std::size_t i = from; i < to && i < 8; ++i) {
    if (__builtin_mul_overflow(p, s.dims[i], &p)) return std::nullopt;
  }
  return p;
}

CompileResult<void> complete_gather(GatherCall& c, const Graph& graph, NodeId node_id, const Node& node) {
  const ShapeDescriptor* data = operand_shape(graph, node, 0);
  const ShapeDescriptor* index = operand_shape(graph, node, 1);
  const std::optional<DTypeId> index_type = operand_dtype(graph, node, 1);
  if (data == nullptr || index == nullptr || !index_type) return refuse();
  if (data->rank == 0 || data->rank > 8) return refuse();
  std::int64_t axis = graph.gather_attrs(node_id).value_or(GatherAttrs{}).axis;
  if (axis < 0) axis += data->rank;
  if (axis < 0 || axis >= data->rank) return refuse();
  const auto ax = static_cast<std::size_t>(axis);
  const std::optional<std::uint64_t> outer = checked_product(*data, 0, ax);
  const std::optional<std::uint64_t> inner = checked_product(*data, ax + 1, data->rank);
  const std::optional<std::uint64_t> count = checked_product(*index, 0, index->rank);
  if (!outer || !inner || !count) return refuse();
  c.outer = *outer;
  c.axis_len = data->dims[ax];
  c.inner = *inner;
  c.index_count = *count;
  c.index_dtype = *index_type;
  return {};
}

CompileResult<void> complete_cast(CastCall& c, const Graph& graph, const Node& node) {
  const std::optional<DTypeId> src = operand_dtype(graph, node, 0);
  if (!src) return refuse();
  c.src_dtype = *src;
  return {};
}

}  // namespace

CompileResult<void> complete_call(KernelCall& call, const Graph& graph, NodeId node_id, const Node& node) {
  // Lowering builds every call with the record of its kind; a call that
  // does not carry it is left as it is rather than read as another record.
  if (!call.well_formed()) return {};
  switch (call.kind()) {
    case CallKind::Slice:
      return complete_slice(*call.get_if<LayoutCall>(), graph, node);
    case CallKind::Pad:
      return complete_pad(*call.get_if<LayoutCall>(), graph, node);
    case CallKind::Transpose:
      return complete_transpose(*call.get_if<TransposeCall>(), graph, node);
    case CallKind::Lrn:
      return complete_lrn(*call.get_if<LrnCall>(), graph, node_id, node);
    case CallKind::RotaryEmbedding:
      return complete_rope(*call.get_if<RopeCall>(), graph, node);
    case CallKind::GroupNorm: {
      NormCall& c = *call.get_if<NormCall>();
      const std::optional<NormAttrs> a = graph.norm_attrs(node_id);
      c.groups = a && a->num_groups != 0 ? a->num_groups : 1;
      return {};
    }
    case CallKind::InstanceNorm: {
      NormCall& c = *call.get_if<NormCall>();
      c.groups = c.channels != 0 ? c.channels : 1;
      return {};
    }
    case CallKind::Expand:
    case CallKind::Resize:
      return complete_expand(*call.get_if<ExpandCall>(), graph, node);
    case CallKind::ReduceSum:
    case CallKind::ReduceMean:
    case CallKind::ReduceProd:
    case CallKind::ReduceMin:
    case CallKind::ReduceMax:
      complete_reduce(*call.get_if<ReduceCall>(), graph, node_id, node);
      return {};
    case CallKind::Gather:
      return complete_gather(*call.get_if<GatherCall>(), graph, node_id, node);
    case CallKind::Cast:
      return complete_cast(*call.get_if<CastCall>(), graph, node);
    default:
      return {};
  }
}

}  // namespace tessary
