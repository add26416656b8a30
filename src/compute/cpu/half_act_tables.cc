#pragma GCC optimize("fp-contract=off")

#include "compute/cpu/half_act_tables.h"

#include <mutex>

#include "compute/cpu/activation_scalar.h"
#include "types/float16.h"

namespace tessary::cpu::lut {
namespace {

constexpr unsigned kFormats = 2;

// Static storage: a table's pages are only touched when it is built.
alignas(64) std::uint16_t g_tables[kFormats][kActTableCount][kEntries];
std::once_flag g_built[kFormats][kActTableCount];

float activate(ActTable act, float x) {
  switch (act) {
    case ActTable::Sigmoid: return sigmoid_f(x);
    case ActTable::Tanh: return tanh_f(x);
    case ActTable::Gelu: return gelu_f(x);
    case ActTable::Silu: return silu_f(x);
    case ActTable::Exp: return exp_f(x);
    case ActTable::Erf: return erf_f(x);
  }
  return erf_f(x);
}

template <typename Decode, typename Encode>
void fill(std::uint16_t* out, ActTable act, Decode decode, Encode encode) {
  for (std::size_t p = 0; p < kEntries; ++p) {
    out[p] = encode(activate(act, decode(static_cast<std::uint16_t>(p))));
  }
}

}  // namespace

std::span<const std::uint16_t, kEntries> table(ActTable act, HalfFormat format) {
  // Callers pass one of the six activations; anything else is folded onto the
  // last one rather than indexing past the array.
  auto a = static_cast<unsigned>(act);
  if (a >= kActTableCount) a = kActTableCount - 1;
  const unsigned f = format == HalfFormat::BF16 ? 1 : 0;
  std::uint16_t* t = g_tables[f][a];
  std::call_once(g_built[f][a], [&] {
    if (f == 0) {
      fill(t, static_cast<ActTable>(a), f16_bits_to_f32, f32_to_f16_bits);
    } else {
      fill(t, static_cast<ActTable>(a), bf16_bits_to_f32, f32_to_bf16_bits);
    }
  });
  return std::span<const std::uint16_t, kEntries>(t, kEntries);
}

}  // namespace tessary::cpu::lut
