#include "compute/quant_tier.h"

namespace tessary {
namespace {

constexpr QuantTier kU8{1, 8, DTypeId::U8, false, true, false};
constexpr QuantTier kI8{1, 8, DTypeId::I8, false, true, true};
constexpr QuantTier kI4{1, 4, DTypeId::I4, false, true, true};
constexpr QuantTier kE8cb{kE8cbGroup, 1, DTypeId::E8cb, true, false, true};

}  // namespace

bool omajor_k_ok(std::uint32_t elems_per_code, std::uint32_t bits_per_elem, std::uint64_t k) {
  if (elems_per_code == 0 || k % elems_per_code != 0) return false;
  // bits * group * (k / group) is bits * k; only its remainder mod 8 matters,
  // so reduce first to keep the product from wrapping.
  return (static_cast<std::uint64_t>(bits_per_elem % 8) * (k % 8)) % 8 == 0;
}

const QuantTier* quant_tier(DTypeId t) {
  switch (t) {
    case DTypeId::U8: return &kU8;
    case DTypeId::I8: return &kI8;
    case DTypeId::I4: return &kI4;
    case DTypeId::E8cb: return &kE8cb;
    default: return nullptr;
  }
}

std::optional<std::uint64_t> QuantTier::weight_bytes(std::uint64_t rows,
                                                     std::uint64_t columns) const {
  // The element count may exceed 64 bits while its byte count does not (i4,
  // e8cb), so the storage rule runs on the exact 128-bit product.
  const unsigned __int128 elems = static_cast<unsigned __int128>(rows) * columns;
  unsigned __int128 bytes;
  if (const auto w = element_width(dtype)) {
    bytes = elems * *w;
  } else if (dtype == DTypeId::I4) {
    bytes = elems - elems / 2;
  } else if (dtype == DTypeId::E8cb) {
    bytes = elems / 8 + (elems % 8 != 0 ? 1 : 0);
  } else {
    return std::nullopt;
  }
  return bytes > UINT64_MAX ? UINT64_MAX : static_cast<std::uint64_t>(bytes);
}

std::optional<std::vector<std::uint8_t>> QuantTier::omajor_repack(
    std::span<const std::uint8_t> bytes, std::uint64_t k, std::uint64_t n) const {
  if (!omajor_k_ok(k)) return std::nullopt;
  const auto expected = weight_bytes(k, n);
  if (!expected || bytes.size() != *expected) return std::nullopt;
  // From here the output is exactly as large as the input, which is already
  // in memory, so every index below stays within k * n elements. An empty
  // weight returns at once: k or n alone may still be huge.
  if (bytes.empty()) return std::vector<std::uint8_t>{};
  if (code_bits() == 8) {
    const std::uint64_t groups = k / elems_per_code;
    std::vector<std::uint8_t> out(bytes.size());
    for (std::uint64_t c = 0; c < n; ++c) {
      std::uint8_t* col = out.data() + c * groups;
      for (std::uint64_t g = 0; g < groups; ++g) col[g] = bytes[g * n + c];
    }
    return out;
  }
  if (code_bits() == 4) {
    std::vector<std::uint8_t> out(bytes.size(), 0);
    for (std::uint64_t c = 0; c < n; ++c) {
      for (std::uint64_t r = 0; r < k; ++r) {
        const std::uint64_t src = r * n + c;
        const std::uint64_t dst = c * k + r;
        const std::uint8_t nib = (bytes[src / 2] >> ((src & 1) * 4)) & 0x0F;
        out[dst / 2] |= static_cast<std::uint8_t>(nib << ((dst & 1) * 4));
      }
    }
    return out;
  }
  return std::nullopt;
}

}  // namespace tessary
