#pragma once
// Spelling of shapes and typed shapes for messages and tables.
#include <cstdint>
#include <span>
#include <string>

#include "types/dtype.h"

namespace tessary::cli {

// "[2, 3]"; a scalar is "[]".
std::string shape_text(std::span<const std::uint64_t> shape);
// "f32[2, 3]"; an unknown tag is spelled "dtype(N)".
std::string typed_shape_text(DTypeId dtype, std::span<const std::uint64_t> shape);
// "f32", or "dtype(N)" for a tag the library does not know.
std::string dtype_text(DTypeId dtype);

}  // namespace tessary::cli
