#include "compute/packed_b.h"

#include <algorithm>
#include <cstring>

namespace tessary {

std::optional<std::uint64_t> packed_b_elems(std::uint64_t k, std::uint64_t n) {
  const unsigned __int128 cols = (static_cast<unsigned __int128>(n) + kPanelWidth - 1) /
                                 kPanelWidth * kPanelWidth;
  const unsigned __int128 elems = cols * k;
  if (elems > UINT64_MAX) return std::nullopt;
  return static_cast<std::uint64_t>(elems);
}

std::optional<std::vector<std::uint8_t>> pack_b_panels_bytes(std::span<const std::uint8_t> b,
                                                             std::uint64_t k, std::uint64_t n,
                                                             std::size_t elem_bytes) {
  const unsigned __int128 in_bytes = static_cast<unsigned __int128>(k) * n * elem_bytes;
  if (in_bytes != b.size()) return std::nullopt;
  const auto elems = packed_b_elems(k, n);
  if (!elems) return std::nullopt;
  // The packed size is at most 16 times the input (one column padded to a
  // whole panel), and the input is already in memory.
  const unsigned __int128 out_bytes = static_cast<unsigned __int128>(*elems) * elem_bytes;
  if (out_bytes > SIZE_MAX) return std::nullopt;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(out_bytes), 0);
  if (b.empty()) return out;

  const std::uint64_t panels = (n + kPanelWidth - 1) / kPanelWidth;
  for (std::uint64_t p = 0; p < panels; ++p) {
    const std::uint64_t col0 = p * kPanelWidth;
    const std::uint64_t width = std::min(kPanelWidth, n - col0);
    for (std::uint64_t r = 0; r < k; ++r) {
      std::memcpy(out.data() + packed_b_index(r, col0, k) * elem_bytes,
                  b.data() + (r * n + col0) * elem_bytes, width * elem_bytes);
    }
  }
  return out;
}

}  // namespace tessary
