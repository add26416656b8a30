// Element-wise float kernels over 1M binary32 elements on each SIMD tier,
// next to a plain memcpy of the same bytes. Throughput is reported as output
// bytes per second, so each line compares directly with the memcpy line.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "compute/cpu/elementwise_kernels.h"
#include "compute/cpu/simd_path.h"
#include "compute/cpu/vector_primitives.h"

namespace tessary::cpu {
namespace {

constexpr std::size_t kElements = 1 << 20;
constexpr std::size_t kBytes = kElements * sizeof(float);

struct AlignedFree {
  void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], AlignedFree>;

Buffer make_buffer(float start, float step) {
  Buffer b(static_cast<std::uint8_t*>(std::aligned_alloc(64, kBytes)));
  auto* f = reinterpret_cast<float*>(b.get());
  for (std::size_t i = 0; i < kElements; ++i) f[i] = start + step * static_cast<float>(i % 4096);
  return b;
}

// Pins the tier for one benchmark; skips a tier the CPU cannot run.
class TierPin {
 public:
  explicit TierPin(benchmark::State& state) {
    ok_ = force_simd_path(static_cast<SimdPath>(state.range(0)));
    if (!ok_) state.SkipWithError("tier not supported by this CPU");
  }
  ~TierPin() { force_simd_path(std::nullopt); }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

void BM_Memcpy(benchmark::State& state) {
  const Buffer src = make_buffer(-4.0f, 0.002f);
  Buffer dst = make_buffer(0.0f, 0.0f);
  for (auto _ : state) {
    std::memcpy(dst.get(), src.get(), kBytes);
    benchmark::DoNotOptimize(dst.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_Memcpy);

void BM_Add(benchmark::State& state) {
  TierPin pin(state);
  if (!pin.ok()) return;
  const Buffer a = make_buffer(-4.0f, 0.002f);
  const Buffer b = make_buffer(1.0f, 0.001f);
  Buffer out = make_buffer(0.0f, 0.0f);
  for (auto _ : state) {
    auto r = binary_kernel(BinaryOp::Add, DTypeId::F32, {{a.get(), kBytes}, 1}, {{b.get(), kBytes}, 2},
                           {{out.get(), kBytes}, 3}, kElements);
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

template <UnaryOp Op>
void BM_Unary(benchmark::State& state) {
  TierPin pin(state);
  if (!pin.ok()) return;
  const Buffer in = make_buffer(-8.0f, 0.004f);
  Buffer out = make_buffer(0.0f, 0.0f);
  for (auto _ : state) {
    auto r = unary_kernel(Op, DTypeId::F32, {{in.get(), kBytes}, 1}, {{out.get(), kBytes}, 2}, kElements);
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// The backend's fast exponential in place (the primitive under sigmoid, tanh,
// gelu, silu, softmax); the exp op itself is the standard expf per element.
void BM_FastExpInplace(benchmark::State& state) {
  TierPin pin(state);
  if (!pin.ok()) return;
  const Buffer in = make_buffer(-8.0f, 0.004f);
  Buffer work = make_buffer(0.0f, 0.0f);
  auto* w = reinterpret_cast<float*>(work.get());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(work.get(), in.get(), kBytes);  // keep arguments in range across iterations
    state.ResumeTiming();
    simd_f32_exp_inplace(std::span<float>(w, kElements));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void tiers(benchmark::internal::Benchmark* b) {
  b->ArgName("tier");
  for (int t : {1, 2, 3}) b->Arg(t);
}

BENCHMARK(BM_Add)->Apply(tiers);
BENCHMARK(BM_Unary<UnaryOp::Relu>)->Name("BM_Relu")->Apply(tiers);
BENCHMARK(BM_Unary<UnaryOp::Sigmoid>)->Name("BM_Sigmoid")->Apply(tiers);
BENCHMARK(BM_Unary<UnaryOp::Exp>)->Name("BM_Exp")->Apply(tiers);
BENCHMARK(BM_FastExpInplace)->Apply(tiers);

}  // namespace
}  // namespace tessary::cpu
