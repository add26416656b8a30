#pragma once
// Byte buffers placed at a chosen distance from a 64-byte boundary, filled
// with a marker so that writes past the intended range show up.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "types/dtype.h"

namespace tessary::cpu {

inline constexpr std::uint8_t kFill = 0xA5;

class Region {
 public:
  Region(std::size_t bytes, std::size_t misalign) : storage_(bytes + 128, kFill), len_(bytes) {
    const auto addr = reinterpret_cast<std::uintptr_t>(storage_.data());
    start_ = (64 - addr % 64) % 64 + misalign;
  }
  std::uint8_t* data() { return storage_.data() + start_; }
  std::span<std::uint8_t> bytes() { return {data(), len_}; }
  std::span<const std::uint8_t> cbytes() { return {data(), len_}; }
  // Every byte outside [start, start + len) still holds the marker.
  bool untouched_outside() const {
    for (std::size_t i = 0; i < storage_.size(); ++i) {
      if ((i < start_ || i >= start_ + len_) && storage_[i] != kFill) return false;
    }
    return true;
  }
  bool untouched() const {
    for (std::uint8_t b : storage_) {
      if (b != kFill) return false;
    }
    return true;
  }

 private:
  std::vector<std::uint8_t> storage_;
  std::size_t len_;
  std::size_t start_ = 0;
};

// Elements of a float dtype in a region with the given misalignment.
inline Region encode(DTypeId dtype, std::span<const float> values, std::size_t misalign) {
  const std::size_t w = *element_width(dtype);
  Region r(values.size() * w, misalign);
  for (std::size_t i = 0; i < values.size(); ++i) write_float(r.data(), i, dtype, values[i]);
  return r;
}

}  // namespace tessary::cpu
