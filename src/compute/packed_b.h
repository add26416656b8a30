#pragma once
// Packed B: a right-hand matrix B [k, n] stored in panels of 16 columns so the
// matmul engine reads each panel row as one contiguous 16-element vector.
// Panel p holds columns 16p .. 16p + 15 for all k rows; columns past n in the
// last panel are zero.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tessary {

inline constexpr std::uint64_t kPanelWidth = 16;

// Index (in elements) of B's element (r, j) inside the packed layout.
inline constexpr std::uint64_t packed_b_index(std::uint64_t r, std::uint64_t j, std::uint64_t k) {
  return ((j / kPanelWidth) * k + r) * kPanelWidth + j % kPanelWidth;
}

// Elements of the packed layout: ceil(n / 16) * 16 * k, or nothing when that
// does not fit 64 bits.
std::optional<std::uint64_t> packed_b_elems(std::uint64_t k, std::uint64_t n);

// Packs row-major [k, n] bytes of elements of `elem_bytes` bytes each. Nothing
// when `b` does not hold exactly k * n elements or the sizes overflow.
std::optional<std::vector<std::uint8_t>> pack_b_panels_bytes(std::span<const std::uint8_t> b,
                                                             std::uint64_t k, std::uint64_t n,
                                                             std::size_t elem_bytes);

}  // namespace tessary
