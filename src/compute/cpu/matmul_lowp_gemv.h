#pragma once
// The small-m engine: C = A x B for decode-style products where B holds raw
// f16 or bf16 patterns, read in place instead of being widened into a copy.
#include <cstddef>
#include <cstdint>

#include "compute/cpu/half_act_tables.h"

namespace tessary::cpu {

// A [m, k] and C [m, n] binary32, B [k, n] little-endian 16-bit patterns,
// all row-major. Each C[i][j] starts from +0 and adds B[kk][j] * A[i][kk]
// for kk in increasing order. On the vector path (lowp_vector_path) the
// columns below 8 * floor(n / 8) fuse each step and the last n mod 8 round
// the product first; the scalar path rounds every product. Nothing happens
// when m, k or n is 0.
void matmul_lowp_gemv(const float* a, const std::uint8_t* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                      HalfFormat format);

}  // namespace tessary::cpu
