#pragma once
// Scalar conversions between binary32 and the two 16-bit float formats.
// Kernels call these once per element, so they live here as inline functions.
//
// binary16 narrowing rounds ties away from zero, not to even: hardware
// conversion (F16C vcvtps2ph) rounds ties to even and therefore does not give
// the same bits; vector paths that narrow must reproduce these rules.
// Widening is exact in both formats, so F16C widening matches this code.
#include <bit>
#include <cstdint>

namespace tessary {

// binary16 -> binary32, exact. NaNs keep their payload (shifted into place).
inline float f16_bits_to_f32(std::uint16_t h) {
  const std::uint32_t sign = static_cast<std::uint32_t>(h & 0x8000u) << 16;
  const std::uint32_t exp = (h >> 10) & 0x1Fu;
  std::uint32_t man = h & 0x3FFu;
  std::uint32_t bits;
  if (exp == 31) {
    bits = sign | 0x7F800000u | (man << 13);
  } else if (exp != 0) {
    bits = sign | ((((exp << 10) | man) << 13) + (112u << 23));
  } else if (man == 0) {
    bits = sign;
  } else {
    // Subnormal: value is man * 2^-24. Normalise so the leading bit sits at
    // bit 10; each shift lowers the exponent by one from 2^-14.
    const int shift = std::countl_zero(man) - 21;
    man <<= shift;
    bits = sign | (static_cast<std::uint32_t>(113 - shift) << 23) | ((man & 0x3FFu) << 13);
  }
  return std::bit_cast<float>(bits);
}

// binary32 -> binary16 with ties rounded away from zero; every NaN becomes the
// quiet NaN of the same sign (0x7E00 / 0xFE00).
inline std::uint16_t f32_to_f16_bits(float f) {
  const std::uint32_t x = std::bit_cast<std::uint32_t>(f);
  const std::uint32_t sign = (x >> 16) & 0x8000u;
  const std::uint32_t exp = (x >> 23) & 0xFFu;
  const std::uint32_t man = x & 0x7FFFFFu;
  if (exp == 255) {
    return static_cast<std::uint16_t>(sign | 0x7C00u | (man != 0 ? 0x0200u : 0u));
  }
  if (exp >= 143) return static_cast<std::uint16_t>(sign | 0x7C00u);
  if (exp >= 113) {
    const std::uint32_t rounded = man + 0x1000u;
    if (rounded & 0x800000u) {
      // The mantissa carried into the exponent; at the top binade that is
      // infinity, elsewhere the next power of two.
      if (exp == 142) return static_cast<std::uint16_t>(sign | 0x7C00u);
      return static_cast<std::uint16_t>(sign | ((exp - 111) << 10));
    }
    return static_cast<std::uint16_t>(sign | ((exp - 112) << 10) | (rounded >> 13));
  }
  if (exp >= 102) {
    // Subnormal result. A carry out of the top subnormal lands exactly on the
    // smallest normal encoding, 0x0400.
    const std::uint32_t full = man | 0x800000u;
    return static_cast<std::uint16_t>(sign | ((full + (1u << (125 - exp))) >> (126 - exp)));
  }
  return static_cast<std::uint16_t>(sign);
}

// bf16 -> binary32, exact.
inline float bf16_bits_to_f32(std::uint16_t b) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(b) << 16);
}

// binary32 -> bf16 by truncation: the upper half of the pattern, no rounding.
// A NaN whose payload lies wholly in the low half therefore becomes infinity.
inline std::uint16_t f32_to_bf16_bits(float f) {
  return static_cast<std::uint16_t>(std::bit_cast<std::uint32_t>(f) >> 16);
}

}  // namespace tessary
