#pragma once
// The SIMD tier the float kernels run on. It is detected from the CPU once per
// process, on first use; tests may pin a tier to exercise every code path on
// one machine.
#include <cstdint>
#include <optional>

namespace tessary::cpu {

// Values are the tier bytes: 1 scalar, 2 AVX2 with FMA, 3 AVX-512F.
enum class SimdPath : std::uint8_t {
  Scalar = 1,
  Avx2 = 2,
  Avx512 = 3,
};

// The tier in effect: the pinned one if a test pinned it, else the detected one.
SimdPath detect_path();

// What the CPU supports, ignoring any pin.
SimdPath detected_cpu_path();

// Whether the CPU has AVX2 (FMA not required). The fast exponential's 8-lane
// loop needs only AVX2, so a CPU with AVX2 but without FMA still uses it.
bool cpu_has_avx2();

// Tests only: pins the tier, or with nothing removes the pin. A tier the CPU
// cannot run is refused and the current setting kept; returns whether the
// request was applied.
bool force_simd_path(std::optional<SimdPath> path);

// The lane width used by the fast exponential and the activation slices:
// AVX-512 on tier 3, AVX2 on tier 2 or on an unpinned tier 1 CPU that has
// AVX2, else the 4-lane baseline loop (reported as Scalar).
SimdPath exp_path();

}  // namespace tessary::cpu
