#pragma once
// Content labels: fixed 71-byte ASCII names of byte strings, "blake3:"
// followed by 64 lowercase hex digits of a BLAKE3 digest. A label names a
// value either by its bytes (address_bytes) or by how it was computed
// (derive_label: op, parameter bytes and the labels of the inputs).
#include <algorithm>
#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "archive/bytes.h"
#include "archive/hasher.h"

namespace tessary {

class KappaLabel {
 public:
  static constexpr std::size_t kSize = 71;
  static constexpr std::string_view kPrefix = "blake3:";

  // 71 zero bytes: a placeholder that no label function ever produces.
  KappaLabel() = default;

  // The label spelling a digest: prefix, then two lowercase hex digits per
  // digest byte, high nibble first.
  static KappaLabel from_digest(const Digest& digest);
  // Wraps 71 bytes as they are, without checking their shape (labels read
  // from an archive are only known to be 71 bytes).
  static KappaLabel from_raw(std::span<const std::uint8_t, kSize> raw) {
    KappaLabel l;
    std::copy(raw.begin(), raw.end(), l.bytes_.begin());
    return l;
  }

  std::string_view text() const { return {reinterpret_cast<const char*>(bytes_.data()), kSize}; }
  std::span<const std::uint8_t, kSize> bytes() const { return bytes_; }

  // Byte-for-byte equality; order is lexicographic over the unsigned bytes.
  friend bool operator==(const KappaLabel&, const KappaLabel&) = default;
  friend std::strong_ordering operator<=>(const KappaLabel&, const KappaLabel&) = default;

 private:
  std::array<std::uint8_t, kSize> bytes_{};
};

// The content label of a byte string (also defined for the empty string).
KappaLabel address_bytes(ByteView bytes);

// The derivation label of a call: one BLAKE3 over op (2 bytes little-endian),
// the params bytes, then the 71 bytes of each label in the order given. The
// caller decides the order (sorting for order-free ops is its business).
KappaLabel derive_label(std::uint16_t op, ByteView params, std::span<const KappaLabel> labels);

// The label of a value leaving through an output port. It chains digests
// rather than hashing label texts: acc = BLAKE3(op, params); with no labels
// the result is BLAKE3(acc || acc), otherwise acc = BLAKE3(acc || digest(L))
// for each label L in order. Fails only when some L does not decode.
std::optional<KappaLabel> derive_label_boundary(std::uint16_t op, ByteView params,
                                                std::span<const KappaLabel> labels);

// The digest a well-formed label spells. Accepts exactly "blake3", one colon
// (the first in the text) and 64 lowercase hex digits; anything else fails.
std::optional<Digest> decode_blake3(std::string_view label);
inline std::optional<Digest> decode_blake3(const KappaLabel& label) { return decode_blake3(label.text()); }

}  // namespace tessary

// Labels are hashed by their 71 bytes when used as map keys.
template <>
struct std::hash<tessary::KappaLabel> {
  std::size_t operator()(const tessary::KappaLabel& label) const noexcept {
    return std::hash<std::string_view>{}(label.text());
  }
};
