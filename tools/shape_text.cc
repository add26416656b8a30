#include "shape_text.h"

namespace tessary::cli {

std::string shape_text(std::span<const std::uint64_t> shape) {
  std::string s = "[";
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i > 0) s += ", ";
    s += std::to_string(shape[i]);
  }
  return s + "]";
}

std::string dtype_text(DTypeId dtype) {
  if (!is_known(dtype)) return "dtype(" + std::to_string(dtype_tag(dtype)) + ")";
  return std::string(dtype_name(dtype));
}

std::string typed_shape_text(DTypeId dtype, std::span<const std::uint64_t> shape) {
  return dtype_text(dtype) + shape_text(shape);
}

}  // namespace tessary::cli
