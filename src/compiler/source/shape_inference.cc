#include "compiler/source/shape_inference.h"

#include <algorithm>

namespace tessary {

namespace {

using Op = OpKind;

bool plain(const ShapeDescriptor* s) { return s != nullptr && !s->further && s->rank <= 8; }

bool in(Op k, std::initializer_list<Op> kinds) { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); }

bool same_as_first(Op k) {
  const auto d = static_cast<unsigned>(k);
  if (d <= 3 || (d >= 10 && d <= 34)) return true;  // unary element-wise
  return in(k, {Op::Softmax, Op::LogSoftmax, Op::LayerNorm, Op::RmsNorm, Op::GroupNorm, Op::InstanceNorm,
                Op::AddRmsNorm, Op::Cumsum, Op::RotaryEmbedding, Op::Clip, Op::Lrn});
}

bool binary_elementwise(Op k) {
  const auto d = static_cast<unsigned>(k);
  return (d >= 4 && d <= 9) || (d >= 35 && d <= 44);
}

}  // namespace

std::optional<ShapeDescriptor> infer_result_shape(OpKind kind, std::span<const ShapeDescriptor* const> operands,
                                                  const ReduceAttrs& reduce) {
  auto operand = [&](std::size_t i) -> const ShapeDescriptor* {
    return i < operands.size() && plain(operands[i]) ? operands[i] : nullptr;
  };
  const ShapeDescriptor* a = operand(0);
  if (a == nullptr) return std::nullopt;
  if (same_as_first(kind)) return *a;
  if (binary_elementwise(kind)) {
    // Element-wise calls run over equal element counts; operands of other
    // shapes get no inferred result (the call cannot run as written).
    const ShapeDescriptor* b = operand(1);
    return b && *b == *a ? std::optional(*a) : std::nullopt;
  }
  if (kind == Op::Where) {
    const ShapeDescriptor* x = operand(1);
    return x ? std::optional(*x) : std::nullopt;
  }
  if (kind == Op::Matmul || kind == Op::Gemm) {
    // [..., m, k] x [k, n] -> [..., m, n]
    const ShapeDescriptor* b = operand(1);
    if (b == nullptr || a->rank < 2 || b->rank != 2 || a->dims[a->rank - 1] != b->dims[0]) return std::nullopt;
    ShapeDescriptor r = *a;
    r.dims[r.rank - 1] = b->dims[1];
    return r;
  }
  if (in(kind, {Op::ReduceSum, Op::ReduceMean, Op::ReduceProd, Op::ReduceMin, Op::ReduceMax})) {
    // Mask 0 reduces every axis; keepdims leaves reduced axes as 1, else they
    // are dropped (a full reduction is then a scalar).
    const std::uint32_t mask = (reduce.axes_mask & 0xFF) == 0 ? 0xFF : reduce.axes_mask;
    const bool keep = reduce.keepdims == 1;
    ShapeDescriptor r;
    for (std::uint8_t i = 0; i < a->rank; ++i) {
      const bool reduced = (mask >> i) & 1;
      if (!reduced) {
        r.dims[r.rank++] = a->dims[i];
      } else if (keep) {
        r.dims[r.rank++] = 1;
      }
    }
    return r;
  }
  return std::nullopt;
}

}  // namespace tessary
