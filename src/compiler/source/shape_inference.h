#pragma once
// Result shapes of op calls that declare none. A node without a shape would
// otherwise stand for the first registered shape, so `let h = matmul(x, w)`
// would take x's shape and every size derived from it would be wrong. Where
// the operands determine the result, it is inferred here; other ops still
// need a declared result shape.
#include <optional>
#include <span>

#include "graph/attrs.h"
#include "graph/op_kind.h"
#include "types/shape.h"

namespace tessary {

// `operands` holds each operand's shape, or nullptr where it has none.
std::optional<ShapeDescriptor> infer_result_shape(OpKind kind, std::span<const ShapeDescriptor* const> operands,
                                                  const ReduceAttrs& reduce);

}  // namespace tessary
