#pragma once
// Binary32 vector primitives shared by the float kernels (element-wise,
// softmax, norms, attention, matmul). Each dispatches on the SIMD tier.
//
// add, mul, max, min and exp give the same values on every tier. sum, dot
// and axpy do not: their per-tier block structure fixes the order of the
// additions (and axpy fuses on the vector tiers), so results may differ
// between tiers in the last bits but are reproducible on each.
#include <span>

namespace tessary::cpu {

// out[i] = a[i] + b[i] / a[i] * b[i] over the shortest of the three.
// out may be the same array as a or b.
void simd_f32_add(std::span<const float> a, std::span<const float> b, std::span<float> out);
void simd_f32_mul(std::span<const float> a, std::span<const float> b, std::span<float> out);

// Sum of all elements.
//   scalar: index order.
//   AVX2: four 8-lane accumulators over blocks of 32, combined as
//         (acc3 + acc2) + (acc1 + acc0), lanes added left to right, then the
//         tail one at a time.
//   AVX-512: four 16-lane accumulators over blocks of 64, combined as
//         (acc1 + acc0) + (acc2 + acc3), lanes reduced pairwise (upper half
//         onto lower half), then the tail one at a time.
float simd_f32_sum(std::span<const float> x);

// Dot product over the shorter of a and b.
//   scalar: a[i] * b[i] rounded, then added, in index order.
//   AVX2: four 8-lane FMA accumulators over blocks of 32, combined as
//         (acc3 + acc2) + (acc1 + acc0), lanes added left to right; then each
//         further whole block of 8 products summed left to right and added;
//         then single products.
//   AVX-512: four 16-lane FMA accumulators over blocks of 64, same
//         combination, lanes reduced pairwise; then each further whole block
//         of 16 products reduced pairwise and added; then groups of four
//         products reduced pairwise ((p0 + p2) + (p1 + p3)) and added; then
//         single products.
float simd_f32_dot(std::span<const float> a, std::span<const float> b);

// Largest / smallest element; -inf / +inf for an empty array. NaN elements
// are skipped on every tier (an all-NaN array gives the empty result). Which
// zero is returned when both +0 and -0 are extreme is not fixed.
float simd_f32_max(std::span<const float> x);
float simd_f32_min(std::span<const float> x);

// y[i] += alpha * x[i] over the shorter of the two. The vector tiers fuse the
// multiply and add (one rounding); the scalar tier rounds the product first.
void simd_f32_axpy(std::span<float> y, std::span<const float> x, float alpha);

// x[i] = fast_exp(x[i]) in place.
void simd_f32_exp_inplace(std::span<float> x);

}  // namespace tessary::cpu
