#pragma once
// Builds expected payloads byte by byte in tests, independently of the
// ByteWriter the encoders use.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archive/bytes.h"

namespace tessary::testing {

class LeBytes {
 public:
  LeBytes& u8(std::uint8_t v) {
    out_.push_back(v);
    return *this;
  }
  LeBytes& u16(std::uint16_t v) { return le(v, 2); }
  LeBytes& u32(std::uint32_t v) { return le(v, 4); }
  LeBytes& u64(std::uint64_t v) { return le(v, 8); }
  LeBytes& bytes(ByteView b) {
    for (std::uint8_t x : b) out_.push_back(x);
    return *this;
  }
  LeBytes& text(std::string_view s) {
    for (char c : s) out_.push_back(static_cast<std::uint8_t>(c));
    return *this;
  }
  LeBytes& zeros(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out_.push_back(0);
    return *this;
  }
  std::size_t size() const { return out_.size(); }
  Bytes take() { return std::move(out_); }

 private:
  LeBytes& le(std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes out_;
};

}  // namespace tessary::testing
