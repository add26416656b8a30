// Session execution costs: a memo hit (identical inputs) against a full run
// of the same small archive with inputs that change every iteration.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "archive/writer.h"
#include "tessary/tessary.h"

namespace {

using namespace tessary;

// x (u8[n]) -> concat with a constant -> copied to two outputs.
Bytes small_archive(std::uint64_t n) {
  TessWriter w;
  BinaryCall cat;
  cat.kind = CallKind::Concat;
  cat.a = BufferRef{0, 0, 0};
  cat.b = BufferRef{0, 0, 1};
  cat.output = BufferRef{0, 2 * n, 2};
  cat.n = 2 * n;
  cat.dtype = DTypeId::U8;
  LayoutCall copy;
  copy.kind = CallKind::Pad;
  copy.input = BufferRef{0, 0, 2};
  copy.output = BufferRef{0, 0, 3};
  copy.n = 2 * n;
  copy.dtype = DTypeId::U8;
  LayoutCall copy2 = copy;
  copy2.output = BufferRef{0, 0, 4};
  w.set_kernel_calls({cat, copy, copy2});
  auto port = [](const char* name, std::uint32_t slot, std::uint64_t elems) {
    PortDescriptor p;
    p.name = name;
    p.slot = slot;
    p.elements = elems;
    p.shape = {elems};
    p.dtype = DTypeId::U8;
    return p;
  };
  w.set_inputs({port("x", 0, n)});
  w.set_outputs({port("y", 3, 2 * n), port("z", 4, 2 * n)});
  archive::ConstantEntry c;
  c.slot = 1;
  c.bytes.assign(n, 7);
  c.dtype = DTypeId::U8;
  w.set_constants({c});
  return *std::move(w).finish();
}

struct Harness {
  explicit Harness(std::uint64_t n) : archive(small_archive(n)), x(n, 1), y(2 * n), z(2 * n) {
    handle = tessary_session_load(archive.data(), archive.size());
  }
  ~Harness() { tessary_session_close(handle); }
  int32_t run() {
    const uint8_t* in[] = {x.data()};
    const size_t lens[] = {x.size()};
    uint8_t* out[] = {y.data(), z.data()};
    const size_t caps[] = {y.size(), z.size()};
    return tessary_session_execute(handle, in, lens, 1, out, caps, 2);
  }
  Bytes archive;
  std::vector<uint8_t> x, y, z;
  int32_t handle;
};

void BM_MemoHit(benchmark::State& state) {
  Harness h(static_cast<std::uint64_t>(state.range(0)));
  if (h.run() != 0) state.SkipWithError("execution failed");
  for (auto _ : state) benchmark::DoNotOptimize(h.run());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_MemoHit)->Arg(64)->Arg(4096)->Arg(1 << 20);

void BM_FullRun(benchmark::State& state) {
  Harness h(static_cast<std::uint64_t>(state.range(0)));
  std::uint64_t i = 0;
  for (auto _ : state) {
    std::memcpy(h.x.data(), &i, sizeof i);  // new input bytes every time: no memo hit
    ++i;
    if (h.run() != 0) {
      state.SkipWithError("execution failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FullRun)->Arg(64)->Arg(4096)->Arg(1 << 20);

}  // namespace
