#pragma once
// QuantTier: how each quantized weight type (u8, i8, i4, e8cb) is laid out in
// bytes. The compiler, load-time fusion and the quantized matmul kernels all
// decide from these records, so the checks below are the single shared rule.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "types/dtype.h"
#include "types/weight_layout.h"

namespace tessary {

// ROW_MAJOR: weight [k, n], element (r, c) at r n + c.
// OUTPUT_MAJOR: weight [n, k], element (r, c) at c k + r; i4 packs two per byte
// along k (low nibble first), e8cb holds one code byte per 8 consecutive k.
// (WeightLayout itself lives in types/weight_layout.h.)

// Largest k for which k * 127 * 127 still fits a signed 32-bit sum, so an
// integer dot product of i8 activations and weights cannot overflow.
inline constexpr std::uint64_t kExactI32MaxK = 133144;

// The e8cb codebook: 256 entries of 8 signed 8-bit coordinates.
inline constexpr std::uint32_t kE8cbGroup = 8;
inline constexpr std::uint32_t kE8cbCodebookEntries = 256;
inline constexpr std::uint32_t kE8cbCodebookBytes = kE8cbCodebookEntries * kE8cbGroup;

// k is acceptable for an output-major weight when it is a whole number of
// codes and each output column's span of k elements is a whole number of bytes.
bool omajor_k_ok(std::uint32_t elems_per_code, std::uint32_t bits_per_elem, std::uint64_t k);

struct QuantTier {
  std::uint32_t elems_per_code;
  std::uint32_t bits_per_elem;
  DTypeId dtype;
  bool vector_quantized;  // needs a codebook to decode
  bool scalar_decodable;  // each element decodes on its own
  bool omajor_gemv;       // an output-major integer GEMV exists

  // Bits of one code: 8 for u8, i8 and e8cb, 4 for i4.
  std::uint32_t code_bits() const { return elems_per_code * bits_per_elem; }

  // Bytes of a rows x columns weight by the storage rule of the dtype, computed
  // on the exact product and saturating at 2^64 - 1.
  std::optional<std::uint64_t> weight_bytes(std::uint64_t rows, std::uint64_t columns) const;

  bool omajor_k_ok(std::uint64_t k) const {
    return tessary::omajor_k_ok(elems_per_code, bits_per_elem, k);
  }

  // ROW_MAJOR [k, n] weight bytes to OUTPUT_MAJOR bytes. Nothing when k does
  // not suit the output-major layout, the byte count is not weight_bytes(k, n),
  // or the code width is neither 4 nor 8 bits.
  std::optional<std::vector<std::uint8_t>> omajor_repack(std::span<const std::uint8_t> bytes,
                                                         std::uint64_t k, std::uint64_t n) const;
};

// The tier of tags 1, 2, 10 and 11; nullptr for every other tag.
const QuantTier* quant_tier(DTypeId t);

}  // namespace tessary
