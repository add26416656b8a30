#include "archive/labels.h"

namespace tessary {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Value of one lowercase hex digit, or -1. Uppercase is not a digit here:
// every label this library makes is lowercase, so anything else is foreign.
int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::array<std::uint8_t, 2> op_bytes(std::uint16_t op) {
  return {static_cast<std::uint8_t>(op & 0xFF), static_cast<std::uint8_t>(op >> 8)};
}

// BLAKE3 of op (little-endian) followed by params, streamed without a copy.
Digest hash_op_params(std::uint16_t op, ByteView params) {
  Blake3Hasher h;
  auto op_le = op_bytes(op);
  h.update(op_le);
  h.update(params);
  return h.finalize();
}

Digest hash_pair(const Digest& a, const Digest& b) {
  Blake3Hasher h;
  h.update(a);
  h.update(b);
  return h.finalize();
}

}  // namespace

KappaLabel KappaLabel::from_digest(const Digest& digest) {
  KappaLabel l;
  std::copy(kPrefix.begin(), kPrefix.end(), l.bytes_.begin());
  std::size_t at = kPrefix.size();
  for (std::uint8_t b : digest) {
    l.bytes_[at++] = static_cast<std::uint8_t>(kHexDigits[b >> 4]);
    l.bytes_[at++] = static_cast<std::uint8_t>(kHexDigits[b & 0x0F]);
  }
  return l;
}

KappaLabel address_bytes(ByteView bytes) { return KappaLabel::from_digest(blake3_digest(bytes)); }

KappaLabel derive_label(std::uint16_t op, ByteView params, std::span<const KappaLabel> labels) {
  Blake3Hasher h;
  auto op_le = op_bytes(op);
  h.update(op_le);
  h.update(params);
  for (const KappaLabel& l : labels) h.update(l.bytes());
  return KappaLabel::from_digest(h.finalize());
}

std::optional<KappaLabel> derive_label_boundary(std::uint16_t op, ByteView params,
                                                std::span<const KappaLabel> labels) {
  // The accumulator is kept as a digest: decoding the label of a digest gives
  // that digest back, so skipping the hex round trip changes no result.
  Digest acc = hash_op_params(op, params);
  if (labels.empty()) return KappaLabel::from_digest(hash_pair(acc, acc));
  for (const KappaLabel& l : labels) {
    auto d = decode_blake3(l);
    if (!d) return std::nullopt;
    acc = hash_pair(acc, *d);
  }
  return KappaLabel::from_digest(acc);
}

std::optional<Digest> decode_blake3(std::string_view label) {
  std::size_t colon = label.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  if (label.substr(0, colon) != "blake3") return std::nullopt;
  std::string_view hex = label.substr(colon + 1);
  if (hex.size() != 64) return std::nullopt;
  Digest d;
  for (std::size_t i = 0; i < d.size(); ++i) {
    int hi = hex_value(hex[2 * i]);
    int lo = hex_value(hex[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    d[i] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return d;
}

}  // namespace tessary
