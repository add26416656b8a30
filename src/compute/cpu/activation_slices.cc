// Dispatch of the activation slices, and their baseline form: the exponent
// argument of a block of elements is staged in a small local array, run
// through the vector exponential, and combined with the input. The blocks
// keep the staging in the first-level cache and let out alias in.
#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/activation_slices.h"

#include <algorithm>
#include <cstddef>

#include "compute/cpu/activation_scalar.h"
#include "compute/cpu/f32_tier_kernels.h"
#include "compute/cpu/simd_path.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

constexpr std::size_t kBlock = 256;

template <typename Arg, typename Finish>
void staged(std::span<const float> in, std::span<float> out, Arg arg, Finish finish) {
  const std::size_t n = std::min(in.size(), out.size());
  float e[kBlock];
  for (std::size_t base = 0; base < n; base += kBlock) {
    const std::size_t len = std::min(kBlock, n - base);
    const float* x = in.data() + base;
    for (std::size_t j = 0; j < len; ++j) e[j] = arg(x[j]);
    simd_f32_exp_inplace(std::span<float>(e, len));
    float* y = out.data() + base;
    for (std::size_t j = 0; j < len; ++j) y[j] = finish(x[j], e[j]);
  }
}

using TierFn = void (*)(const float*, float*, std::size_t);

// The fused vector forms when the exponential runs on wide lanes, else the
// staged form.
template <typename Arg, typename Finish>
void dispatch(std::span<const float> in, std::span<float> out, TierFn avx512, TierFn avx2, Arg arg, Finish finish) {
  const std::size_t n = std::min(in.size(), out.size());
  switch (exp_path()) {
    case SimdPath::Avx512: return avx512(in.data(), out.data(), n);
    case SimdPath::Avx2: return avx2(in.data(), out.data(), n);
    case SimdPath::Scalar: break;
  }
  staged(in, out, arg, finish);
}

}  // namespace

void sigmoid_slice(std::span<const float> in, std::span<float> out) {
  dispatch(
      in, out, tiers::f32_sigmoid_avx512, tiers::f32_sigmoid_avx2, [](float x) { return -x; },
      [](float, float e) { return 1.0f / (e + 1.0f); });
}

void tanh_slice(std::span<const float> in, std::span<float> out) {
  dispatch(
      in, out, tiers::f32_tanh_avx512, tiers::f32_tanh_avx2, [](float x) { return x * 2.0f; },
      [](float, float e) { return (e - 1.0f) / (e + 1.0f); });
}

void gelu_slice(std::span<const float> in, std::span<float> out) {
  dispatch(in, out, tiers::f32_gelu_avx512, tiers::f32_gelu_avx2, gelu_arg, gelu_finish);
}

void silu_slice(std::span<const float> in, std::span<float> out) {
  dispatch(
      in, out, tiers::f32_silu_avx512, tiers::f32_silu_avx2, [](float x) { return -x; },
      [](float x, float e) { return x * (1.0f / (e + 1.0f)); });
}

void relu_slice(std::span<const float> in, std::span<float> out) {
  const std::size_t n = std::min(in.size(), out.size());
  switch (detect_path()) {
    case SimdPath::Avx512: return tiers::f32_relu_avx512(in.data(), out.data(), n);
    case SimdPath::Avx2: return tiers::f32_relu_avx2(in.data(), out.data(), n);
    case SimdPath::Scalar: break;
  }
  for (std::size_t i = 0; i < n; ++i) out.data()[i] = relu_f(in.data()[i]);
}

}  // namespace tessary::cpu
