#pragma once
// Which output columns of an f32 matrix product accumulate with fused
// multiply-add and which with a rounded product followed by an addition.
//
// Every output element is one chain over kk = 0 .. k-1 in increasing order,
// starting from +0 (or from the value already in C when accumulating). Only
// the operation of each step varies, and only by column:
//   Halving  - the cache-blocked engine: n is halved (first half floor(n/2))
//              until every piece is at most 64 columns wide; within a piece
//              of width w the first 8 * floor(w / 8) columns fuse, the last
//              w mod 8 do not. Row and inner-dimension splits never change
//              this, since a column range of at most 64 is never split.
//   Leaf     - one leaf over the whole width: the first 8 * floor(n / 8)
//              columns fuse.
//   Panels   - packed B: whole 16-column panels fuse, the columns of a
//              partial last panel do not.
//   MulAdd   - no column fuses (the scalar engine).
#include <cstddef>
#include <cstdint>

namespace tessary::cpu {

enum class ColumnRule : std::uint8_t { Halving, Leaf, Panels, MulAdd };

// Largest column range the halving rule leaves unsplit.
inline constexpr std::size_t kLeafWidth = 64;

// Whether column j of an n-column product fuses under the rule (j < n).
bool column_fuses(ColumnRule rule, std::size_t n, std::size_t j);

// Whether every column fuses.
bool all_columns_fuse(ColumnRule rule, std::size_t n);

// Fills lanes[c] for c < ceil(n / 16): bit t is set when column 16c + t
// fuses. Bits of columns at or past n are set.
void fill_fma_lanes(ColumnRule rule, std::size_t n, std::uint16_t* lanes);

}  // namespace tessary::cpu
