#pragma once
// ShapeDescriptor: up to eight inline dimensions plus an optional list of
// further factors. Shared by the graph's shape registry and its archive section.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tessary {

struct ShapeDescriptor {
  std::array<std::uint64_t, 8> dims{};  // slots beyond rank are zero
  std::optional<std::vector<std::uint64_t>> further;
  std::uint8_t rank = 0;  // 0 to 8

  // Product of the first rank dims and every further factor, saturating at
  // 2^64 - 1; a later factor 0 still gives 0. Rank 0 with no factors is 1.
  std::uint64_t total_elements() const {
    std::uint64_t n = 1;
    auto mul = [&n](std::uint64_t f) {
      if (f == 0) {
        n = 0;
      } else if (n != 0) {
        n = n > UINT64_MAX / f ? UINT64_MAX : n * f;
      }
    };
    for (std::uint8_t i = 0; i < rank && i < 8; ++i) mul(dims[i]);
    if (further) {
      for (std::uint64_t f : *further) mul(f);
    }
    return n;
  }

  friend bool operator==(const ShapeDescriptor&, const ShapeDescriptor&) = default;
};

}  // namespace tessary
