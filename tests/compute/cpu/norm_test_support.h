#pragma once
// Shared by the softmax, reduction, norm and LRN kernel tests: the buffer
// layouts every case runs under, and comparison of a kernel's stored output
// with binary32 reference values.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/test_buffers.h"
#include "types/dtype.h"

namespace tessary::cpu {

// A dtype and the distance of its buffers from a 64-byte boundary. f32 two
// bytes off is not 4-byte aligned and takes the element-by-element path.
struct Layout {
  DTypeId dtype;
  std::size_t misalign;
  const char* name;
};

inline constexpr Layout kLayouts[] = {
    {DTypeId::F32, 0, "f32"}, {DTypeId::F32, 2, "f32 unaligned"}, {DTypeId::F16, 0, "f16"},
    {DTypeId::F16, 1, "f16 odd"}, {DTypeId::BF16, 0, "bf16"},
};

inline std::vector<float> decode(DTypeId dtype, std::span<const std::uint8_t> bytes, std::size_t n) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = read_float(bytes.data(), i, dtype);
  return v;
}

// The values as a buffer of `dtype` holds them.
inline std::vector<float> stored(DTypeId dtype, std::span<const float> values) {
  std::vector<std::uint8_t> tmp(values.size() * 4);
  for (std::size_t i = 0; i < values.size(); ++i) write_float(tmp.data(), i, dtype, values[i]);
  return decode(dtype, tmp, values.size());
}

// `got` equals `want` as written in the dtype: equal bits, or both NaN.
inline ::testing::AssertionResult matches(DTypeId dtype, std::span<const float> got, std::span<const float> want) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "length " << got.size();
  const std::vector<float> exp = stored(dtype, want);
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (!oracle::same(got[i], exp[i])) {
      return ::testing::AssertionFailure() << "element " << i << ": got " << got[i] << " (0x" << std::hex
                                           << oracle::bits(got[i]) << "), want " << std::dec << exp[i] << " (0x"
                                           << std::hex << oracle::bits(exp[i]) << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

// The output bytes hold `want` as written in their dtype.
inline ::testing::AssertionResult holds_values(DTypeId dtype, std::span<const std::uint8_t> out,
                                               std::span<const float> want) {
  return matches(dtype, decode(dtype, out, want.size()), want);
}

// Values spread over several binades, so that a different order of
// operations shows in the last bits.
inline std::vector<float> spread_values(std::size_t n, unsigned seed, int lo_exp = -6, int hi_exp = 6) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
  std::uniform_int_distribution<int> expo(lo_exp, hi_exp);
  std::vector<float> v(n);
  for (float& x : v) x = std::ldexp(mant(rng), expo(rng));
  return v;
}

}  // namespace tessary::cpu
