#pragma once
// OpSignature: the identity of a kernel call for content labelling (an op
// value and parameter bytes), and Pb, the builder of those bytes.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace tessary {

// Appends little-endian values. Every signature but one fits the 64 inline
// bytes; a rank-8 expand, resize or broadcast_binary needs up to 68. Rather
// than refuse those calls or drop their last axes (which would give distinct
// calls one label), the builder moves to the heap once it outgrows the inline
// bytes, so it never writes past its storage and never loses a byte.
class Pb {
 public:
  static constexpr std::size_t kInlineBytes = 64;

  Pb& u8(std::uint8_t v) { return append(&v, 1); }
  Pb& u16(std::uint16_t v) { return append(&v, 2); }
  Pb& u32(std::uint32_t v) { return append(&v, 4); }
  Pb& i32(std::int32_t v) { return append(&v, 4); }
  Pb& u64(std::uint64_t v) { return append(&v, 8); }

  // Views this builder, so not offered on a temporary.
  std::span<const std::uint8_t> bytes() const& {
    return spilled() ? std::span<const std::uint8_t>(heap_) : std::span<const std::uint8_t>(inline_.data(), len_);
  }
  std::span<const std::uint8_t> bytes() const&& = delete;
  std::size_t len() const { return len_; }
  bool spilled() const { return !heap_.empty(); }

  friend bool operator==(const Pb& a, const Pb& b) {
    auto x = a.bytes();
    auto y = b.bytes();
    return std::equal(x.begin(), x.end(), y.begin(), y.end());
  }

 private:
  Pb& append(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);  // x86-64 is little-endian
    if (!spilled() && len_ + n <= kInlineBytes) {
      std::memcpy(inline_.data() + len_, b, n);
    } else {
      if (!spilled()) heap_.assign(inline_.begin(), inline_.begin() + static_cast<std::ptrdiff_t>(len_));
      heap_.insert(heap_.end(), b, b + n);
    }
    len_ += n;
    return *this;
  }

  std::array<std::uint8_t, kInlineBytes> inline_{};
  std::vector<std::uint8_t> heap_;  // holds every byte once non-empty
  std::size_t len_ = 0;
};

struct OpSignature {
  std::uint16_t op = 0;
  Pb pb;

  // Views this signature, so not offered on a temporary:
  // op_signature(call).params() would dangle.
  std::span<const std::uint8_t> params() const& { return pb.bytes(); }
  std::span<const std::uint8_t> params() const&& = delete;
  std::size_t len() const { return pb.len(); }

  friend bool operator==(const OpSignature&, const OpSignature&) = default;
};

}  // namespace tessary
