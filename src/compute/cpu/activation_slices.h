#pragma once
// Whole-array forms of the activations over binary32. Each writes
// out[i] = act(in[i]) for i below the shorter length, with exactly the values
// of the scalar functions (sigmoid_f, tanh_f, gelu_f, silu_f, relu_f) on every
// tier. out may be the same array as in, but must not overlap it otherwise.
#include <span>

namespace tessary::cpu {

using F32Slice = void (*)(std::span<const float> in, std::span<float> out);

void sigmoid_slice(std::span<const float> in, std::span<float> out);
void tanh_slice(std::span<const float> in, std::span<float> out);
void gelu_slice(std::span<const float> in, std::span<float> out);
void silu_slice(std::span<const float> in, std::span<float> out);
void relu_slice(std::span<const float> in, std::span<float> out);

}  // namespace tessary::cpu
