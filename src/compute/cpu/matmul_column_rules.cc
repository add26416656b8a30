#include "compute/cpu/matmul_column_rules.h"

namespace tessary::cpu {
namespace {

// The fused prefix of a leaf of width w.
std::size_t leaf_fused(std::size_t w) { return w / 8 * 8; }

bool halving_all_fuse(std::size_t w) {
  if (w <= kLeafWidth) return w % 8 == 0;
  const std::size_t h = w / 2;
  // Halves of an even width are equal; an odd width gives h and h + 1.
  if (w % 2 == 0) return halving_all_fuse(h);
  return halving_all_fuse(h) && halving_all_fuse(h + 1);
}

// Clears the lane bits of the unfused tail of every halving leaf inside
// [start, start + w).
void clear_halving_tails(std::size_t start, std::size_t w, std::uint16_t* lanes) {
  if (w > kLeafWidth) {
    const std::size_t h = w / 2;
    clear_halving_tails(start, h, lanes);
    clear_halving_tails(start + h, w - h, lanes);
    return;
  }
  for (std::size_t j = start + leaf_fused(w); j < start + w; ++j) {
    lanes[j / 16] = static_cast<std::uint16_t>(lanes[j / 16] & ~(1u << (j % 16)));
  }
}

}  // namespace

bool column_fuses(ColumnRule rule, std::size_t n, std::size_t j) {
  switch (rule) {
    case ColumnRule::Halving: {
      std::size_t start = 0;
      std::size_t w = n;
      while (w > kLeafWidth) {
        const std::size_t h = w / 2;
        if (j - start < h) {
          w = h;
        } else {
          start += h;
          w -= h;
        }
      }
      return j - start < leaf_fused(w);
    }
    case ColumnRule::Leaf: return j < leaf_fused(n);
    case ColumnRule::Panels: return j < n / 16 * 16;
    case ColumnRule::MulAdd: return false;
  }
  return false;
}

bool all_columns_fuse(ColumnRule rule, std::size_t n) {
  switch (rule) {
    case ColumnRule::Halving: return halving_all_fuse(n);
    case ColumnRule::Leaf: return n % 8 == 0;
    case ColumnRule::Panels: return n % 16 == 0;
    case ColumnRule::MulAdd: return n == 0;
  }
  return false;
}

void fill_fma_lanes(ColumnRule rule, std::size_t n, std::uint16_t* lanes) {
  const std::size_t chunks = (n + 15) / 16;
  for (std::size_t c = 0; c < chunks; ++c) lanes[c] = 0xFFFF;
  std::size_t tail_start = n;
  switch (rule) {
    case ColumnRule::Halving: clear_halving_tails(0, n, lanes); return;
    case ColumnRule::Leaf: tail_start = leaf_fused(n); break;
    case ColumnRule::Panels: tail_start = n / 16 * 16; break;
    case ColumnRule::MulAdd: tail_start = 0; break;
  }
  for (std::size_t j = tail_start; j < n; ++j) {
    lanes[j / 16] = static_cast<std::uint16_t>(lanes[j / 16] & ~(1u << (j % 16)));
  }
}

}  // namespace tessary::cpu
