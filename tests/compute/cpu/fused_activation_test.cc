#include "compute/cpu/fused_activation.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "compute/cpu/tier_fixture.h"

namespace tessary::cpu {
namespace {

float fused_ref(std::uint8_t act, float x) {
  switch (act) {
    case 1: return oracle::relu(x);
    case 2: return oracle::gelu(x);
    case 3: return oracle::silu(x);
    case 4: return oracle::sigmoid(x);
    case 5: return oracle::tanh(x);
    case 6: return oracle::elu(x);
    case 7: return oracle::selu(x);
    case 8: return expf(x);
    default: return x;
  }
}

class FusedActivation : public TierTest {};

// Each id applied in place, at growing and then shrinking lengths so the
// per-thread scratch is reused at sizes below its capacity.
TEST_P(FusedActivation, EveryIdInPlace) {
  std::mt19937 rng(31);
  std::uniform_real_distribution<float> d(-30.0f, 30.0f);
  std::vector<float> pool(3000);
  for (float& x : pool) x = d(rng);
  pool[0] = oracle::qnan(), pool[1] = -0.0f, pool[2] = 100.0f, pool[3] = -100.0f, pool[4] = oracle::inf();
  for (std::size_t n : {0u, 1u, 7u, 17u, 300u, 3000u, 33u, 5u}) {
    for (unsigned act : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 255u}) {
      std::vector<float> v(pool.begin(), pool.begin() + n);
      apply_fused_act_f32(static_cast<std::uint8_t>(act), v);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_PRED2(oracle::same, v[i], fused_ref(static_cast<std::uint8_t>(act), pool[i]))
            << "act " << act << " n " << n << " x " << pool[i];
      }
    }
  }
}

// Separate threads each use their own scratch.
TEST_P(FusedActivation, ThreadsDoNotShareScratch) {
  std::vector<std::vector<float>> results(4);
  std::vector<std::thread> threads;
  const SimdPath tier = GetParam();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&results, t, tier] {
      ASSERT_TRUE(force_simd_path(tier));
      std::vector<float> v(2000 + 100 * t);
      for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i % 97) * 0.1f - 4.0f + t;
      for (int rep = 0; rep < 20; ++rep) {
        std::vector<float> w = v;
        apply_fused_act_f32(2, w);
        if (rep == 0) results[t] = w;
        ASSERT_EQ(w, results[t]);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    for (std::size_t i = 0; i < results[t].size(); ++i) {
      const float x = static_cast<float>(i % 97) * 0.1f - 4.0f + t;
      ASSERT_EQ(oracle::bits(results[t][i]), oracle::bits(oracle::gelu(x)));
    }
  }
}

TESSARY_ALL_TIERS(FusedActivation);

}  // namespace
}  // namespace tessary::cpu
