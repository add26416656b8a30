#include "compute/cpu/simd_path.h"

#include <atomic>

namespace tessary::cpu {
namespace {

struct CpuFeatures {
  SimdPath path;
  bool avx2;
  bool avx2_fma;
};

// __builtin_cpu_supports also checks that the OS saves the wider register
// state, so a reported feature is usable.
CpuFeatures probe() {
  __builtin_cpu_init();
  const bool avx512f = __builtin_cpu_supports("avx512f");
  const bool avx2 = __builtin_cpu_supports("avx2");
  const bool fma = __builtin_cpu_supports("fma");
  SimdPath path = SimdPath::Scalar;
  if (avx512f) {
    path = SimdPath::Avx512;
  } else if (avx2 && fma) {
    path = SimdPath::Avx2;
  }
  return CpuFeatures{path, avx2, avx2 && fma};
}

const CpuFeatures& features() {
  static const CpuFeatures f = probe();  // thread-safe one-time initialisation
  return f;
}

// 0 = not pinned, else the pinned tier byte.
std::atomic<std::uint8_t> g_pinned{0};

}  // namespace

SimdPath detected_cpu_path() { return features().path; }

bool cpu_has_avx2() { return features().avx2; }

SimdPath detect_path() {
  const std::uint8_t pinned = g_pinned.load(std::memory_order_relaxed);
  if (pinned != 0) return static_cast<SimdPath>(pinned);
  return features().path;
}

bool force_simd_path(std::optional<SimdPath> path) {
  if (!path) {
    g_pinned.store(0, std::memory_order_relaxed);
    return true;
  }
  bool runs = false;
  switch (*path) {
    case SimdPath::Scalar: runs = true; break;
    case SimdPath::Avx2: runs = features().avx2_fma; break;
    case SimdPath::Avx512: runs = features().path == SimdPath::Avx512; break;
  }
  if (!runs) return false;
  g_pinned.store(static_cast<std::uint8_t>(*path), std::memory_order_relaxed);
  return true;
}

SimdPath exp_path() {
  const std::uint8_t pinned = g_pinned.load(std::memory_order_relaxed);
  const SimdPath path = pinned != 0 ? static_cast<SimdPath>(pinned) : features().path;
  if (path == SimdPath::Scalar && pinned == 0 && features().avx2) return SimdPath::Avx2;
  return path;
}

}  // namespace tessary::cpu
