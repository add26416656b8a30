#pragma once
// The backend's own exponential, the one every activation built on exp uses
// (sigmoid, tanh, gelu, silu). Every vector lane computes exactly these steps,
// each multiply and add rounded separately, so all widths agree bit for bit.
//
// Include only from files compiled for the baseline ISA: an inline function
// emitted in an AVX translation unit could be the copy the linker keeps.
#include <bit>
#include <cstdint>

namespace tessary::cpu {

namespace fast_exp_const {
inline constexpr float kLow = -87.33654f;  // below this the result is 0
inline constexpr float kHigh = 88.0f;      // arguments are clamped here
inline constexpr float kLog2e = 1.442695f;
inline constexpr float kLn2Hi = -0.693359375f;
inline constexpr float kLn2Lo = 0.00021219444f;
inline constexpr float kC6 = 0.0013888889f;  // 1/720
inline constexpr float kC5 = 0.008333334f;   // 1/120
inline constexpr float kC4 = 0.041666668f;   // 1/24
inline constexpr float kC3 = 0.16666667f;    // 1/6
inline constexpr std::uint32_t kOneBits = 0x3F800000u;
inline constexpr std::uint32_t kMaxScaleBits = 0x7F000000u;  // 2^127
}  // namespace fast_exp_const

inline float fast_exp(float x) {
  using namespace fast_exp_const;
  if (!(x >= kLow)) return 0.0f;  // also NaN
  if (x > kHigh) x = kHigh;
  const float t = x * kLog2e;
  // |t| < 128 here, so the conversion cannot leave the int32 range.
  const auto n = static_cast<std::int32_t>(t >= 0.0f ? t + 0.5f : t - 0.5f);
  const auto nf = static_cast<float>(n);
  const float r = (x + nf * kLn2Hi) + nf * kLn2Lo;
  float p = r * kC6 + kC5;
  p = p * r + kC4;
  p = p * r + kC3;
  p = p * r + 0.5f;
  p = p * r + 1.0f;
  p = p * r + 1.0f;
  std::uint32_t bits = (static_cast<std::uint32_t>(n) << 23) + kOneBits;
  if (bits >= kMaxScaleBits) bits = kMaxScaleBits;
  return std::bit_cast<float>(bits) * p;
}

}  // namespace tessary::cpu
