#pragma once
// Rules shared by the plan-section codecs: how list counts are written and
// read, and how much a decoder may reserve before records are actually read.
#include <cstddef>
#include <cstdint>

#include "archive/bytes.h"
#include "archive/error.h"

namespace tessary {

inline constexpr const char* kCountTooLarge = "record count does not fit in 32 bits";

// Writes a list count as u32, refusing counts that would wrap.
inline ArchiveResult<void> put_count(ByteWriter& w, std::size_t count) {
  if (count > UINT32_MAX) return std::unexpected(ArchiveError::malformed(kCountTooLarge));
  w.u32(static_cast<std::uint32_t>(count));
  return {};
}

// Reads the leading u32 count of a list payload (Truncated with needed 4
// when the payload is shorter).
inline ArchiveResult<std::uint32_t> read_count(Cursor& c) { return c.u32(); }

// How many records a decoder may reserve up front: never more than the
// remaining bytes could hold at the smallest record size, so a forged count
// cannot make memory use grow beyond the payload itself.
inline std::size_t reserve_bound(std::uint32_t count, std::size_t remaining, std::size_t min_record_bytes) {
  std::size_t fit = remaining / (min_record_bytes == 0 ? 1 : min_record_bytes);
  return count < fit ? count : fit;
}

}  // namespace tessary
