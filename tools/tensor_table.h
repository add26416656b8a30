#pragma once
// Prints a tensor as a table: one row per index of the leading dimensions,
// one column per index of the last, right-aligned. Large tensors show their
// first and last rows and columns around a "..." marker.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "types/dtype.h"

namespace tessary::cli {

struct TableLimits {
  std::size_t max_rows = 12;  // more rows show the first and last half of this many
  std::size_t max_cols = 8;   // likewise for columns
};

// `elements` values of `dtype` in `bytes` (at least elements × width bytes),
// laid out in C order over `shape`. Every line starts with `indent`.
std::string format_tensor(DTypeId dtype, std::span<const std::uint64_t> shape, std::uint64_t elements,
                          std::span<const std::uint8_t> bytes, const std::string& indent, TableLimits limits = {});

}  // namespace tessary::cli
