#pragma once
// The binary32 matrix-product engines behind matmul, gemm and the fused
// matmul forms (and reused by convolution, attention and dequantizing
// matmul). All matrices are dense and row-major: A [m, k], B [k, n],
// C [m, n]. Each engine returns at once, writing nothing, when m, k or n
// is 0. Pointers must cover the elements their sizes and leading
// dimensions imply, and C must not overlap A or B.
//
// Every output element is one chain over kk = 0 .. k - 1 in increasing
// order, from +0 (or from C's value when accumulating); which steps fuse
// the multiply and add is fixed per engine and column (matmul_column_rules.h).
// Within that, the vector tiers block, pack and tile freely: results are the
// same bits whatever the blocking.
#include <cstddef>
#include <vector>

namespace tessary::cpu {

// C = A x B. SIMD tiers 2 and 3: matmul_f32_recursive with leading
// dimensions k, n, n and accumulate off. Tier 1: B is transposed into
// `scratch` and each element is a dot product of rounded products added in
// kk order.
void matmul_f32_blocked(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                        std::vector<float>& scratch);

// C = A x B with B in 16-column panels (element (r, j) at
// ((j / 16) * k + r) * 16 + j % 16). Tiers 2 and 3:
// matmul_f32_packed_recursive; tier 1: rounded products added in kk order.
void matmul_f32_packed(const float* a, const float* packed_b, float* c, std::size_t m, std::size_t k,
                       std::size_t n);

// The cache-blocked FMA engine: C (+)= A x B with row strides lda, ldb and
// ldc. It computes what recursive halving to blocks of at most 64 x 64 x 64
// and the 4 x 16 fused-multiply-add leaf compute: every column fuses except
// the last w mod 8 columns of each halving piece of width w. The same values
// on every tier (tier 1 uses std::fma).
void matmul_f32_recursive(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                          std::size_t lda, std::size_t ldb, std::size_t ldc, bool accumulate);

// The recursive engine's leaf applied to the whole block: columns in whole
// 8-column groups fuse, the last n mod 8 do not.
void matmul_f32_fma_strided(const float* a, const float* b, float* c, std::size_t m, std::size_t k, std::size_t n,
                            std::size_t lda, std::size_t ldb, std::size_t ldc, bool accumulate);

// The packed-B engine and its leaf (same values): columns of whole panels
// fuse, the columns of a partial last panel do not. A is [m, k] with row
// stride k and C [m, n] with row stride n.
void matmul_f32_packed_recursive(const float* a, const float* packed_b, float* c, std::size_t m, std::size_t k,
                                 std::size_t n, bool accumulate);
void matmul_f32_packed_b(const float* a, const float* packed_b, float* c, std::size_t m, std::size_t k,
                         std::size_t n, bool accumulate);

}  // namespace tessary::cpu
