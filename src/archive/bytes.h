#pragma once
// Little-endian byte reading and writing shared by the archive container and
// every section codec. Archives have no alignment, so every access goes
// through memcpy.
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "archive/error.h"
#include "compute/buffer_ref.h"

namespace tessary {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline std::uint16_t load_le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t load_le32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // x86-64 is little-endian
}
inline std::uint64_t load_le64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Appends little-endian values to one growable buffer.
class ByteWriter {
 public:
  void u8(std::uint8_t v) { out_.push_back(v); }
  void flag(bool v) { out_.push_back(v ? 1 : 0); }
  void u16(std::uint16_t v) { append(&v, 2); }
  void u32(std::uint32_t v) { append(&v, 4); }
  void u64(std::uint64_t v) { append(&v, 8); }
  void f32(float v) { append(&v, 4); }
  void bytes(ByteView b) { out_.insert(out_.end(), b.begin(), b.end()); }
  void text(std::string_view s) { append(s.data(), s.size()); }
  void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }

  std::size_t size() const { return out_.size(); }
  Bytes& buffer() { return out_; }
  Bytes take() { return std::move(out_); }

 private:
  void append(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
  }
  Bytes out_;
};

// A read position over a borrowed byte view. Every read either returns the
// value and advances, or returns Truncated (needed end offset, view length)
// and leaves the position where it was.
class Cursor {
 public:
  explicit Cursor(ByteView view) : view_(view) {}

  std::size_t pos() const { return pos_; }
  std::size_t remaining() const { return view_.size() - pos_; }
  ByteView view() const { return view_; }

  ArchiveResult<std::uint8_t> u8() {
    if (auto e = need(1)) return std::unexpected(*e);
    return view_[pos_++];
  }
  ArchiveResult<bool> flag() {
    auto v = u8();
    if (!v) return std::unexpected(v.error());
    return *v != 0;
  }
  ArchiveResult<std::uint16_t> u16() {
    if (auto e = need(2)) return std::unexpected(*e);
    auto v = load_le16(view_.data() + pos_);
    pos_ += 2;
    return v;
  }
  ArchiveResult<std::uint32_t> u32() {
    if (auto e = need(4)) return std::unexpected(*e);
    auto v = load_le32(view_.data() + pos_);
    pos_ += 4;
    return v;
  }
  ArchiveResult<std::uint64_t> u64() {
    if (auto e = need(8)) return std::unexpected(*e);
    auto v = load_le64(view_.data() + pos_);
    pos_ += 8;
    return v;
  }
  // A 20-byte buffer reference: slot u32, then offset u64, then len u64
  // (slot first on the wire although it is the record's last field).
  ArchiveResult<BufferRef> buf() {
    if (auto e = need(20)) return std::unexpected(*e);
    const std::uint8_t* p = view_.data() + pos_;
    BufferRef r;
    r.slot = load_le32(p);
    r.offset = load_le64(p + 4);
    r.len = load_le64(p + 12);
    pos_ += 20;
    return r;
  }
  // A borrowed run of n bytes.
  ArchiveResult<ByteView> bytes(std::uint64_t n) {
    if (auto e = need(n)) return std::unexpected(*e);
    ByteView v = view_.subspan(pos_, static_cast<std::size_t>(n));
    pos_ += static_cast<std::size_t>(n);
    return v;
  }

 private:
  // Returns the Truncated error when n more bytes are not there. The needed
  // end saturates instead of wrapping for absurd n.
  std::optional<ArchiveError> need(std::uint64_t n) const {
    if (n <= remaining()) return std::nullopt;
    std::uint64_t end = pos_ + n < pos_ ? UINT64_MAX : pos_ + n;
    return ArchiveError::truncated(end, view_.size());
  }

  ByteView view_;
  std::size_t pos_ = 0;
};

}  // namespace tessary
