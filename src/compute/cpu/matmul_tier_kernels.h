#pragma once
// Per-tier binary32 matrix-product kernels behind the matmul engines. Each
// tier's functions live in their own translation unit (*_avx2.cc,
// *_avx512.cc) and take raw pointers only, so nothing compiled with wider
// instructions is shared with code that runs on any CPU.
//
// Every kernel accumulates each output element in increasing kk order. A
// column whose bit is set in the lane masks takes each step as a fused
// multiply-add; any other column rounds the product, then adds it. Without
// `accumulate` the chain starts from +0, with it from the value in C.
#include <cstddef>
#include <cstdint>

namespace tessary::cpu::mm {

// Register tile shape of each tier: rows by columns (columns come from one
// or two 16-column B panels).
inline constexpr std::size_t kAvx512TileRows = 12;
inline constexpr std::size_t kAvx512TileCols = 32;
inline constexpr std::size_t kAvx2TileRows = 6;
inline constexpr std::size_t kAvx2TileCols = 16;

// Products with at most this many rows stream B without packing it.
inline constexpr std::size_t kStreamRows = 8;

// Full register tile: C [tile rows x tile cols] (+)= A panel x B panels.
//   a:  kc steps of (tile rows) values; row r of step kk at a[kk * rows + r].
//   b0: kc steps of 16 values (tile columns 0-15); b1 likewise for columns
//       16-31 (ignored by a 16-column tile).
//   c:  the tile's first element, row stride ldc.
//   fma_lanes: bit t describes tile column t.
using MicroKernel = void (*)(std::size_t kc, const float* a, const float* b0, const float* b1, float* c,
                             std::size_t ldc, bool accumulate, std::uint32_t fma_lanes);

// C [rows x n] (+)= A [rows x k] x B [k x n], rows <= kStreamRows, B read
// row-major in place. fma_lanes[q] describes columns 16q .. 16q + 15.
using StreamKernel = void (*)(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda,
                              const float* b, std::size_t ldb, float* c, std::size_t ldc, bool accumulate,
                              const std::uint16_t* fma_lanes);

// The same with B in 16-column panels: panel q starts at panels + q *
// panel_stride and holds 16 values per kk.
using StreamPanelKernel = void (*)(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda,
                                   const float* panels, std::size_t panel_stride, float* c, std::size_t ldc,
                                   bool accumulate, const std::uint16_t* fma_lanes);

// Packing of operand blocks for the register tile (exact copies, so they
// cannot change any value).
//   PackA: rows [0, mc) and steps [0, kc) of A into panels of `mr` rows,
//   each step's mr values together; rows past mc are zero.
//   PackB: rows [0, kc) and columns [0, nc) of B into 16-column panels of kc
//   rows (panel q at out + q * kc * 16), zero beyond nc.
using PackA = void (*)(const float* a, std::size_t lda, std::size_t mc, std::size_t kc, std::size_t mr, float* out);
using PackB = void (*)(const float* b, std::size_t ldb, std::size_t kc, std::size_t nc, float* out);

void pack_a_avx512(const float* a, std::size_t lda, std::size_t mc, std::size_t kc, std::size_t mr, float* out);
void pack_b_avx512(const float* b, std::size_t ldb, std::size_t kc, std::size_t nc, float* out);

void micro_avx512(std::size_t kc, const float* a, const float* b0, const float* b1, float* c, std::size_t ldc,
                  bool accumulate, std::uint32_t fma_lanes);
void stream_avx512(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* b,
                   std::size_t ldb, float* c, std::size_t ldc, bool accumulate, const std::uint16_t* fma_lanes);
void stream_panels_avx512(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda,
                          const float* panels, std::size_t panel_stride, float* c, std::size_t ldc, bool accumulate,
                          const std::uint16_t* fma_lanes);

void micro_avx2(std::size_t kc, const float* a, const float* b0, const float* b1, float* c, std::size_t ldc,
                bool accumulate, std::uint32_t fma_lanes);
void stream_avx2(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* b,
                 std::size_t ldb, float* c, std::size_t ldc, bool accumulate, const std::uint16_t* fma_lanes);
void stream_panels_avx2(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda,
                        const float* panels, std::size_t panel_stride, float* c, std::size_t ldc, bool accumulate,
                        const std::uint16_t* fma_lanes);

// C [rows x n] = A [rows x k] x B [k x n] where B holds little-endian f16
// (bf16 when `bf16`) patterns, row-major, read in place. Columns below
// 8 * floor(n / 8) fuse every step; the last n mod 8 round the product and
// then add. C is overwritten (each chain starts from +0).
void lowp_gemv_avx2(std::size_t rows, std::size_t k, std::size_t n, const float* a, const std::uint8_t* b, float* c,
                    bool bf16);

// Exact widening of `count` 16-bit float patterns to binary32.
void widen_f16_avx2(const std::uint8_t* bytes, float* out, std::size_t count);
void widen_bf16_avx2(const std::uint8_t* bytes, float* out, std::size_t count);

}  // namespace tessary::cpu::mm
