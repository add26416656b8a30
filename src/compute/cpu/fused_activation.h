#pragma once
// The activation epilogue of the fused matmul kernels, applied in place to
// their binary32 output.
#include <cstdint>
#include <span>

namespace tessary::cpu {

// Fused activation ids as carried by the fused matmul calls; any other value
// means none.
enum class FusedAct : std::uint8_t {
  None = 0,
  Relu = 1,
  Gelu = 2,
  Silu = 3,
  Sigmoid = 4,
  Tanh = 5,
  Elu = 6,
  Selu = 7,
  Exp = 8,
};

// relu, elu, selu and exp are applied element by element; gelu, silu,
// sigmoid and tanh copy the values into this thread's scratch array and run
// the slice from there back into the values. The scratch grows to the
// largest length seen and is reused, so a steady-state epilogue allocates
// nothing; a re-entrant call on the same thread uses a temporary array.
void apply_fused_act_f32(std::uint8_t act, std::span<float> values);

}  // namespace tessary::cpu
