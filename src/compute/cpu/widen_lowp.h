#pragma once
// Widening of 16-bit float elements (f16 or bf16) to binary32 arrays, for
// the kernels that compute on 16-bit data in binary32.
#include <cstddef>
#include <cstdint>

#include "compute/cpu/half_act_tables.h"

namespace tessary::cpu {

// out[i] = the binary32 value of element i of `bytes` (little-endian 16-bit
// patterns), exactly as read_float gives it, NaN payloads included. Uses
// F16C / AVX2 when the CPU has them.
void widen_lowp_to_f32(const std::uint8_t* bytes, float* out, std::size_t count, HalfFormat format);

// Whether the 16-bit vector paths (widening and the small-m engine) may run:
// the CPU has AVX2, FMA and F16C and no test has pinned the scalar tier.
bool lowp_vector_path();

}  // namespace tessary::cpu
