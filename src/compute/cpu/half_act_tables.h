#pragma once
// 65536-entry tables giving an activation of an f16 or bf16 element in one
// lookup: entry p is the format's encoding of act(binary32 value of pattern
// p), for sigmoid_f, tanh_f, gelu_f, silu_f, exp_f and erf_f. Decoding is
// exact and encoding follows the format's write rule, so a lookup gives
// exactly what converting, computing in binary32 and converting back gives.
//
// Each table is built on first use, once per process even under concurrent
// first use, and is read-only afterwards.
#include <cstddef>
#include <cstdint>
#include <span>

#include "compute/cpu/elementwise_op_ids.h"

namespace tessary::cpu {

// Slot of a 16-bit float format in the table set.
enum class HalfFormat : std::uint8_t {
  F16 = 0,
  BF16 = 1,
};

namespace lut {

inline constexpr std::size_t kEntries = 65536;

std::span<const std::uint16_t, kEntries> table(ActTable act, HalfFormat format);

}  // namespace lut
}  // namespace tessary::cpu
