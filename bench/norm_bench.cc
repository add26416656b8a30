// softmax and rms_norm over [64, 4096] binary32 on each SIMD tier, next to a
// plain memcpy of the same bytes. Throughput is reported as output bytes per
// second, so each line compares directly with the memcpy line.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "compute/cpu/norm.h"
#include "compute/cpu/simd_path.h"
#include "compute/cpu/softmax.h"

namespace tessary::cpu {
namespace {

constexpr std::uint32_t kRows = 64;
constexpr std::uint32_t kCols = 4096;
constexpr std::size_t kBytes = std::size_t{kRows} * kCols * sizeof(float);

struct AlignedFree {
  void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t[], AlignedFree>;

Buffer make_buffer(std::size_t bytes, float start, float step) {
  Buffer b(static_cast<std::uint8_t*>(std::aligned_alloc(64, bytes)));
  auto* f = reinterpret_cast<float*>(b.get());
  for (std::size_t i = 0; i < bytes / sizeof(float); ++i) f[i] = start + step * static_cast<float>(i % 4099);
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
  const Buffer src = make_buffer(kBytes, -4.0f, 0.002f);
  Buffer dst = make_buffer(kBytes, 0.0f, 0.0f);
  for (auto _ : state) {
    std::memcpy(dst.get(), src.get(), kBytes);
    benchmark::DoNotOptimize(dst.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}
BENCHMARK(BM_Memcpy);

template <CallKind Kind>
void BM_Softmax(benchmark::State& state) {
  TierPin pin(state);
  if (!pin.ok()) return;
  const Buffer in = make_buffer(kBytes, -8.0f, 0.004f);
  Buffer out = make_buffer(kBytes, 0.0f, 0.0f);
  SoftmaxCall call;
  call.kind = Kind;
  call.rows = kRows;
  call.cols = kCols;
  call.dtype = DTypeId::F32;
  for (auto _ : state) {
    auto r = softmax_kernel(call, {{in.get(), kBytes}, 1}, {{out.get(), kBytes}, 2});
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

void BM_RmsNorm(benchmark::State& state) {
  TierPin pin(state);
  if (!pin.ok()) return;
  const Buffer in = make_buffer(kBytes, -8.0f, 0.004f);
  const Buffer gamma = make_buffer(kCols * sizeof(float), 0.5f, 0.0001f);
  Buffer out = make_buffer(kBytes, 0.0f, 0.0f);
  NormCall call;
  call.kind = CallKind::RmsNorm;
  call.rows = kRows;
  call.features = kCols;
  call.dtype = DTypeId::F32;
  const KernelInput none{{}, kSlotNone};
  for (auto _ : state) {
    auto r = norm_kernel(call, {{in.get(), kBytes}, 1}, {{gamma.get(), kCols * sizeof(float)}, 2}, none, none,
                         {{out.get(), kBytes}, 3});
    benchmark::DoNotOptimize(r);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBytes));
}

// Tier bytes: 1 scalar, 2 AVX2, 3 AVX-512.
BENCHMARK(BM_Softmax<CallKind::Softmax>)->Arg(1)->Arg(2)->Arg(3);
BENCHMARK(BM_Softmax<CallKind::LogSoftmax>)->Arg(1)->Arg(2)->Arg(3);
BENCHMARK(BM_RmsNorm)->Arg(1)->Arg(2)->Arg(3);

}  // namespace
}  // namespace tessary::cpu
