#include "compute/cpu/half_act_tables.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "compute/cpu/float_oracle.h"
#include "types/float16.h"

namespace tessary::cpu {
namespace {

float act_ref(unsigned act, float x) {
  switch (act) {
    case 0: return oracle::sigmoid(x);
    case 1: return oracle::tanh(x);
    case 2: return oracle::gelu(x);
    case 3: return oracle::silu(x);
    case 4: return expf(x);
    default: return erff(x);
  }
}

// Every entry is the format's encoding of the activation of the entry's
// decoded value; the tables are built by concurrent first requests and every
// thread sees the same table.
TEST(HalfActTables, EveryEntryFromConcurrentFirstUse) {
  std::vector<const std::uint16_t*> seen[8];
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&seen, t] {
      for (unsigned f = 0; f < 2; ++f) {
        for (unsigned a = 0; a < kActTableCount; ++a) {
          seen[t].push_back(lut::table(static_cast<ActTable>(a), static_cast<HalfFormat>(f)).data());
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 1; t < 8; ++t) EXPECT_EQ(seen[t], seen[0]);

  for (unsigned a = 0; a < kActTableCount; ++a) {
    const auto f16 = lut::table(static_cast<ActTable>(a), HalfFormat::F16);
    const auto bf16 = lut::table(static_cast<ActTable>(a), HalfFormat::BF16);
    for (std::uint32_t p = 0; p < 65536; ++p) {
      const auto h = static_cast<std::uint16_t>(p);
      const std::uint16_t want_f16 = f32_to_f16_bits(act_ref(a, f16_bits_to_f32(h)));
      const std::uint16_t want_bf16 = f32_to_bf16_bits(act_ref(a, bf16_bits_to_f32(h)));
      // NaN results may differ in payload bits only.
      const auto nan16 = [](std::uint16_t v) { return (v & 0x7C00u) == 0x7C00u && (v & 0x3FFu) != 0; };
      const auto nanb = [](std::uint16_t v) { return (v & 0x7F80u) == 0x7F80u && (v & 0x7Fu) != 0; };
      ASSERT_TRUE(f16[p] == want_f16 || (nan16(f16[p]) && nan16(want_f16))) << "act " << a << " f16 " << p;
      ASSERT_TRUE(bf16[p] == want_bf16 || (nanb(bf16[p]) && nanb(want_bf16))) << "act " << a << " bf16 " << p;
    }
  }
}

TEST(HalfActTables, KnownEntries) {
  // f16: sigmoid(0) = 0.5, tanh(-0) = (1 - 1) / 2 = +0, exp(1) rounds to 0x4170.
  EXPECT_EQ(lut::table(ActTable::Sigmoid, HalfFormat::F16)[0x0000], 0x3800);
  EXPECT_EQ(lut::table(ActTable::Tanh, HalfFormat::F16)[0x8000], 0x0000);
  EXPECT_EQ(lut::table(ActTable::Exp, HalfFormat::F16)[0x3C00], 0x4170);
  // f16 exp overflows to infinity above ln(65520); bf16 keeps the range of binary32.
  EXPECT_EQ(lut::table(ActTable::Exp, HalfFormat::F16)[0x4B00], 0x7C00);  // exp(14) is about 1.2e6
  EXPECT_EQ(lut::table(ActTable::Erf, HalfFormat::BF16)[0x7F80], 0x3F80);  // erf(+inf) = 1
  EXPECT_EQ(lut::table(ActTable::Sigmoid, HalfFormat::BF16)[0x7FC0], 0x3F80);  // sigmoid(NaN) = 1
  EXPECT_EQ(lut::table(ActTable::Tanh, HalfFormat::BF16)[0x7FC0], 0xBF80);     // tanh(NaN) = -1
}

}  // namespace
}  // namespace tessary::cpu
