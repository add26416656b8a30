#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/fused_activation.h"

#include <algorithm>
#include <vector>

#include "compute/cpu/activation_scalar.h"
#include "compute/cpu/activation_slices.h"

namespace tessary::cpu {
namespace {

struct Scratch {
  std::vector<float> values;
  bool in_use = false;
};

thread_local Scratch t_scratch;

template <typename F>
void each(std::span<float> values, F f) {
  for (float& v : values) v = f(v);
}

void via_scratch(std::span<float> values, F32Slice slice) {
  Scratch& s = t_scratch;
  if (s.in_use) {
    const std::vector<float> copy(values.begin(), values.end());
    slice(copy, values);
    return;
  }
  s.in_use = true;
  if (s.values.size() < values.size()) s.values.resize(values.size());
  std::copy(values.begin(), values.end(), s.values.begin());
  slice(std::span<const float>(s.values.data(), values.size()), values);
  s.in_use = false;
}

}  // namespace

void apply_fused_act_f32(std::uint8_t act, std::span<float> values) {
  switch (static_cast<FusedAct>(act)) {
    case FusedAct::Relu: return each(values, relu_f);
    case FusedAct::Elu: return each(values, elu_f);
    case FusedAct::Selu: return each(values, selu_f);
    case FusedAct::Exp: return each(values, exp_f);
    case FusedAct::Gelu: return via_scratch(values, gelu_slice);
    case FusedAct::Silu: return via_scratch(values, silu_slice);
    case FusedAct::Sigmoid: return via_scratch(values, sigmoid_slice);
    case FusedAct::Tanh: return via_scratch(values, tanh_slice);
    case FusedAct::None: break;
  }
}

}  // namespace tessary::cpu
