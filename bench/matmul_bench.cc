// The f32 matrix-product engines raced against the two libraries a user
// would otherwise call, in one process on the same data: OpenBLAS
// (cblas_sgemm, and cblas_sgemv for one row) and oneDNN (dnnl_sgemm), both
// held to one thread. Shapes: square 64 .. 2048, and m = 1 and m = 4 rows
// against a 4096 x 4096 B. After the runs a table gives GFLOP/s and the
// ratio to each peer; for the row shapes it also gives the time of one
// streaming read of B (simd_f32_sum over its 64 MiB), the memory-bandwidth
// floor of any product that reads B once.
//
// Times are CPU time of the (single) thread, so that other processes on a
// shared machine skew the comparison less. The header names the OpenBLAS
// kernel in use: an OpenBLAS that does not know the CPU falls back to an
// SSE3 ("Prescott") kernel, and then OPENBLAS_CORETYPE (for example
// SkylakeX on an AVX-512 machine) selects the one a user would get on a
// CPU it knows. After the table, each peer's result is compared with
// this library's.
#include <benchmark/benchmark.h>
#include <cblas.h>
#include <omp.h>
#include <oneapi/dnnl/dnnl.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compute/cpu/matmul_engines.h"
#include "compute/cpu/simd_path.h"
#include "compute/cpu/vector_primitives.h"

namespace {

using namespace tessary::cpu;

struct AlignedFree {
  void operator()(float* p) const { std::free(p); }
};
using Floats = std::unique_ptr<float[], AlignedFree>;

Floats make_floats(std::size_t count, unsigned seed) {
  const std::size_t bytes = (count * sizeof(float) + 63) / 64 * 64;
  Floats f(static_cast<float*>(std::aligned_alloc(64, bytes)));
  std::uint32_t s = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < count; ++i) {
    s = s * 1664525u + 1013904223u;
    f[i] = static_cast<float>(static_cast<int>(s >> 9) % 2001 - 1000) * 0.001f;
  }
  return f;
}

struct Shape {
  std::string name;
  std::size_t m, k, n;
};

// Operands shared by every contender of one shape.
struct Operands {
  Floats a, b, packed, c;
  Shape shape;
};

std::map<std::string, std::unique_ptr<Operands>>& operands() {
  static std::map<std::string, std::unique_ptr<Operands>> ops;
  return ops;
}

Operands& operands_for(const Shape& s) {
  auto& slot = operands()[s.name];
  if (!slot) {
    slot = std::make_unique<Operands>();
    slot->shape = s;
    slot->a = make_floats(s.m * s.k, 1);
    slot->b = make_floats(s.k * s.n, 2);
    slot->c = make_floats(s.m * s.n, 3);
    const std::size_t panels = (s.n + 15) / 16;
    slot->packed = make_floats(panels * 16 * s.k, 4);
    for (std::size_t r = 0; r < s.k; ++r) {
      for (std::size_t j = 0; j < panels * 16; ++j) {
        slot->packed[((j / 16) * s.k + r) * 16 + j % 16] = j < s.n ? slot->b[r * s.n + j] : 0.0f;
      }
    }
  }
  return *slot;
}

void set_flops(benchmark::State& state, const Shape& s) {
  state.counters["GFLOP/s"] = benchmark::Counter(2.0 * static_cast<double>(s.m * s.k * s.n) * 1e-9,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

void bm_tessary(benchmark::State& state, Shape s) {
  Operands& o = operands_for(s);
  std::vector<float> scratch;
  for (auto _ : state) {
    matmul_f32_blocked(o.a.get(), o.b.get(), o.c.get(), s.m, s.k, s.n, scratch);
    benchmark::ClobberMemory();
  }
  set_flops(state, s);
}

void bm_tessary_packed(benchmark::State& state, Shape s) {
  Operands& o = operands_for(s);
  for (auto _ : state) {
    matmul_f32_packed(o.a.get(), o.packed.get(), o.c.get(), s.m, s.k, s.n);
    benchmark::ClobberMemory();
  }
  set_flops(state, s);
}

void bm_openblas(benchmark::State& state, Shape s) {
  Operands& o = operands_for(s);
  const auto m = static_cast<blasint>(s.m), k = static_cast<blasint>(s.k), n = static_cast<blasint>(s.n);
  for (auto _ : state) {
    if (s.m == 1) {
      // y = x B for row-major B [k, n]: B read as the transpose of [n, k].
      cblas_sgemv(CblasRowMajor, CblasTrans, k, n, 1.0f, o.b.get(), n, o.a.get(), 1, 0.0f, o.c.get(), 1);
    } else {
      cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, k, 1.0f, o.a.get(), k, o.b.get(), n, 0.0f,
                  o.c.get(), n);
    }
    benchmark::ClobberMemory();
  }
  set_flops(state, s);
}

void bm_onednn(benchmark::State& state, Shape s) {
  Operands& o = operands_for(s);
  const auto m = static_cast<dnnl_dim_t>(s.m), k = static_cast<dnnl_dim_t>(s.k), n = static_cast<dnnl_dim_t>(s.n);
  for (auto _ : state) {
    // dnnl_sgemm takes row-major operands.
    if (dnnl_sgemm('N', 'N', m, n, k, 1.0f, o.a.get(), k, o.b.get(), n, 0.0f, o.c.get(), n) != dnnl_success) {
      state.SkipWithError("dnnl_sgemm failed");
      break;
    }
    benchmark::ClobberMemory();
  }
  set_flops(state, s);
}

// One streaming read of B: the floor for anything that reads B once.
void bm_read_b(benchmark::State& state, Shape s) {
  Operands& o = operands_for(s);
  float sink = 0.0f;
  for (auto _ : state) {
    sink += simd_f32_sum(std::span<const float>(o.b.get(), s.k * s.n));
    benchmark::DoNotOptimize(sink);
  }
}

// Keeps the CPU time (ms) of every run for the table.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      const double ms = r.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e3;
      // With --benchmark_repetitions the fastest repetition is kept: on a
      // shared machine the slower ones measure the neighbours.
      auto [it, fresh] = times_.emplace(r.benchmark_name(), ms);
      if (!fresh && ms < it->second) it->second = ms;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  double ms(const std::string& name) const {
    auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> times_;
};

int thread_count() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8);
  }
  return -1;
}

const char* tier_name() {
  switch (detect_path()) {
    case SimdPath::Avx512: return "AVX-512F";
    case SimdPath::Avx2: return "AVX2+FMA";
    case SimdPath::Scalar: return "scalar";
  }
  return "?";
}

}  // namespace

// Largest |x - y| over the largest |y|, between this library's product and
// a peer's.
double relative_gap(const std::vector<float>& x, const std::vector<float>& y) {
  double gap = 0, scale = 0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    gap = std::max(gap, static_cast<double>(std::fabs(x[i] - y[i])));
    scale = std::max(scale, static_cast<double>(std::fabs(y[i])));
  }
  return scale > 0 ? gap / scale : gap;
}

void compare_results(const std::vector<Shape>& shapes) {
  std::printf("\nresult check (max |tessary - peer| / max |peer|)\n");
  for (const Shape& s : shapes) {
    Operands& o = operands_for(s);
    const std::size_t mn = s.m * s.n;
    std::vector<float> scratch;
    std::vector<float> ours(mn), packed(mn), oblas(mn), dnnl(mn);
    matmul_f32_blocked(o.a.get(), o.b.get(), ours.data(), s.m, s.k, s.n, scratch);
    matmul_f32_packed(o.a.get(), o.packed.get(), packed.data(), s.m, s.k, s.n);
    const auto m = static_cast<blasint>(s.m), k = static_cast<blasint>(s.k), n = static_cast<blasint>(s.n);
    cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, k, 1.0f, o.a.get(), k, o.b.get(), n, 0.0f,
                oblas.data(), n);
    dnnl_sgemm('N', 'N', m, n, k, 1.0f, o.a.get(), k, o.b.get(), n, 0.0f, dnnl.data(), n);
    std::printf("%-9s openblas %.1e  onednn %.1e  packed vs row-major %.1e\n", s.name.c_str(),
                relative_gap(ours, oblas), relative_gap(ours, dnnl), relative_gap(packed, ours));
  }
}

int main(int argc, char** argv) {
  // Both peers size their thread pools when they load; the process starts
  // again with one thread requested so that neither ever runs wider.
  const char* want = std::getenv("OMP_NUM_THREADS");
  const char* want_blas = std::getenv("OPENBLAS_NUM_THREADS");
  if (want == nullptr || std::strcmp(want, "1") != 0 || want_blas == nullptr || std::strcmp(want_blas, "1") != 0) {
    setenv("OMP_NUM_THREADS", "1", 1);
    setenv("OPENBLAS_NUM_THREADS", "1", 1);
    execv("/proc/self/exe", argv);
  }
  openblas_set_num_threads(1);
  omp_set_num_threads(1);
  const dnnl_version_t* v = dnnl_version();
  std::printf("tessary tier: %s | OpenBLAS %s, core %s, threads %d | oneDNN %d.%d.%d (%s), omp threads %d\n",
              tier_name(), openblas_get_config(), openblas_get_corename(), openblas_get_num_threads(), v->major,
              v->minor, v->patch, v->cpu_runtime == DNNL_RUNTIME_OMP ? "OpenMP" : "other", omp_get_max_threads());

  std::vector<Shape> squares;
  for (std::size_t s : {64u, 128u, 256u, 512u, 1024u, 2048u}) {
    squares.push_back({std::to_string(s), s, s, s});
  }
  const std::vector<Shape> rows = {{"m1_4096", 1, 4096, 4096}, {"m4_4096", 4, 4096, 4096}};
  auto reg = [](const std::string& name, auto fn, const Shape& s) {
    benchmark::RegisterBenchmark(name.c_str(), fn, s)->Unit(benchmark::kMillisecond);
  };
  for (const std::vector<Shape>* list : {static_cast<const std::vector<Shape>*>(&squares), &rows}) {
    for (const Shape& s : *list) {
      reg("tessary/" + s.name, bm_tessary, s);
      reg("tessary_packed/" + s.name, bm_tessary_packed, s);
      reg("openblas/" + s.name, bm_openblas, s);
      reg("onednn/" + s.name, bm_onednn, s);
    }
  }
  reg("read_b/m1_4096", bm_read_b, rows[0]);

  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const int threads = thread_count();

  auto gflops = [](const Shape& s, double ms) { return ms > 0 ? 2.0 * double(s.m * s.k * s.n) / (ms * 1e6) : 0.0; };
  std::printf("\nthreads in process after the runs: %d (CPU time per run)\n", threads);
  std::printf("%-9s %10s %10s %10s %10s %9s %9s\n", "shape", "tessary", "packed", "openblas", "onednn", "vs oblas",
              "vs dnnl");
  for (const std::vector<Shape>* list : {static_cast<const std::vector<Shape>*>(&squares), &rows}) {
    for (const Shape& s : *list) {
      const double t = reporter.ms("tessary/" + s.name), p = reporter.ms("tessary_packed/" + s.name);
      const double ob = reporter.ms("openblas/" + s.name), dn = reporter.ms("onednn/" + s.name);
      if (t == 0) continue;
      std::printf("%-9s %10.1f %10.1f %10.1f %10.1f %9.2f %9.2f   GFLOP/s\n", s.name.c_str(), gflops(s, t),
                  gflops(s, p), gflops(s, ob), gflops(s, dn), ob > 0 ? ob / t : 0.0, dn > 0 ? dn / t : 0.0);
    }
  }
  const double read = reporter.ms("read_b/m1_4096");
  if (read > 0) {
    std::printf("\nrow shapes in ms (one read of B: %.3f ms)\n", read);
    for (const Shape& s : rows) {
      const double t = reporter.ms("tessary/" + s.name);
      if (t == 0) continue;
      std::printf("%-9s tessary %.3f  packed %.3f  openblas %.3f  onednn %.3f  tessary/read %.2f\n", s.name.c_str(),
                  t, reporter.ms("tessary_packed/" + s.name), reporter.ms("openblas/" + s.name),
                  reporter.ms("onednn/" + s.name), t / read);
    }
  }
  compare_results(squares);
  compare_results(rows);
  return 0;
}
