// AVX2 + FMA tier of the binary32 matrix-product kernels.
//
// Only the explicit fmadd intrinsics fuse; the compiler must not contract a
// separate multiply and add.
#pragma GCC optimize("fp-contract=off")

#include <immintrin.h>

#include "compute/cpu/matmul_tier_kernels.h"

namespace tessary::cpu::mm {
namespace {

constexpr int kRows = static_cast<int>(kAvx2TileRows);

// All-ones lanes where bit t of `bits` is set.
inline __m256 lane_select(unsigned bits) {
  const __m256i sel = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
  const __m256i v = _mm256_and_si256(_mm256_set1_epi32(static_cast<int>(bits)), sel);
  return _mm256_castsi256_ps(_mm256_cmpeq_epi32(v, sel));
}

// Integer lane mask for the first `count` lanes (count <= 8).
inline __m256i first_lanes(std::size_t count) {
  const __m256i idx = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)), idx);
}

// Lanes selected by `fused` take a * b + acc with one rounding, the others
// acc + round(a * b).
template <bool Pure>
inline __m256 step(__m256 acc, __m256 a, __m256 b, __m256 fused) {
  if constexpr (Pure) {
    return _mm256_fmadd_ps(a, b, acc);
  } else {
    const __m256 f = _mm256_fmadd_ps(a, b, acc);
    const __m256 s = _mm256_add_ps(acc, _mm256_mul_ps(a, b));
    return _mm256_blendv_ps(s, f, fused);
  }
}

template <bool Pure>
void micro_tile(std::size_t kc, const float* a, const float* b0, float* c, std::size_t ldc, bool accumulate,
                std::uint32_t fma_lanes) {
  __m256 c0[kRows];
  __m256 c1[kRows];
#pragma GCC unroll 6
  for (int r = 0; r < kRows; ++r) {
    c0[r] = accumulate ? _mm256_loadu_ps(c + r * ldc) : _mm256_setzero_ps();
    c1[r] = accumulate ? _mm256_loadu_ps(c + r * ldc + 8) : _mm256_setzero_ps();
  }
  const __m256 f0 = lane_select(fma_lanes & 0xFFu);
  const __m256 f1 = lane_select((fma_lanes >> 8) & 0xFFu);
  for (std::size_t kk = 0; kk < kc; ++kk) {
    const __m256 x0 = _mm256_loadu_ps(b0);
    const __m256 x1 = _mm256_loadu_ps(b0 + 8);
#pragma GCC unroll 6
    for (int r = 0; r < kRows; ++r) {
      const __m256 av = _mm256_broadcast_ss(a + r);
      c0[r] = step<Pure>(c0[r], av, x0, f0);
      c1[r] = step<Pure>(c1[r], av, x1, f1);
    }
    a += kRows;
    b0 += 16;
  }
#pragma GCC unroll 6
  for (int r = 0; r < kRows; ++r) {
    _mm256_storeu_ps(c + r * ldc, c0[r]);
    _mm256_storeu_ps(c + r * ldc + 8, c1[r]);
  }
}

// The 8 lane bits of columns j .. j + 7 (j a multiple of 8).
inline unsigned lane_bits8(const std::uint16_t* lanes, std::size_t j) {
  return (static_cast<unsigned>(lanes[j / 16]) >> (j % 16)) & 0xFFu;
}

inline __m256 load_part(const float* p, __m256i mask, bool whole) {
  return whole ? _mm256_loadu_ps(p) : _mm256_maskload_ps(p, mask);
}
inline void store_part(float* p, __m256i mask, bool whole, __m256 v) {
  if (whole) {
    _mm256_storeu_ps(p, v);
  } else {
    _mm256_maskstore_ps(p, mask, v);
  }
}

// Rows R over columns [j, j + 8 V) for inner steps [0, kn). With `whole`
// false only the first `count` columns of a single vector are real.
template <int R, int V, bool Pure>
void stream_chunk(std::size_t kn, const float* a, std::size_t lda, const float* b, std::size_t ldb, float* c,
                  std::size_t ldc, bool first, const std::uint16_t* lanes, std::size_t j, bool whole,
                  std::size_t count) {
  const __m256i mask = first_lanes(count);
  __m256 f[V];
  __m256 acc[R][V];
  for (int v = 0; v < V; ++v) f[v] = lane_select(lane_bits8(lanes, j + 8 * v));
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) {
      acc[i][v] = first ? _mm256_setzero_ps() : load_part(c + i * ldc + j + 8 * v, mask, whole);
    }
  }
  for (std::size_t kk = 0; kk < kn; ++kk) {
    __m256 x[V];
    for (int v = 0; v < V; ++v) x[v] = load_part(b + kk * ldb + j + 8 * v, mask, whole);
    for (int i = 0; i < R; ++i) {
      const __m256 av = _mm256_broadcast_ss(a + i * lda + kk);
      for (int v = 0; v < V; ++v) acc[i][v] = step<Pure>(acc[i][v], av, x[v], f[v]);
    }
  }
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) store_part(c + i * ldc + j + 8 * v, mask, whole, acc[i][v]);
  }
}

template <int V>
bool pure_lanes(const std::uint16_t* lanes, std::size_t j) {
  for (int v = 0; v < V; ++v) {
    if (lane_bits8(lanes, j + 8 * v) != 0xFFu) return false;
  }
  return true;
}

template <int R, int V>
void stream_rows(std::size_t kn, std::size_t n, const float* a, std::size_t lda, const float* b, std::size_t ldb,
                 float* c, std::size_t ldc, bool first, const std::uint16_t* lanes) {
  std::size_t j = 0;
  for (; j + 8 * V <= n; j += 8 * V) {
    if (pure_lanes<V>(lanes, j)) {
      stream_chunk<R, V, true>(kn, a, lda, b, ldb, c, ldc, first, lanes, j, true, 8);
    } else {
      stream_chunk<R, V, false>(kn, a, lda, b, ldb, c, ldc, first, lanes, j, true, 8);
    }
  }
  for (; j < n; j += 8) {
    const std::size_t w = n - j < 8 ? n - j : 8;
    stream_chunk<R, 1, false>(kn, a, lda, b, ldb, c, ldc, first, lanes, j, w == 8, w);
  }
}

constexpr std::size_t kStreamBlock = 8;

template <int R, int V>
void stream_all(std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* b, std::size_t ldb,
                float* c, std::size_t ldc, bool accumulate, const std::uint16_t* lanes) {
  for (std::size_t kb = 0; kb < k; kb += kStreamBlock) {
    const std::size_t kn = k - kb < kStreamBlock ? k - kb : kStreamBlock;
    stream_rows<R, V>(kn, n, a + kb, lda, b + kb * ldb, ldb, c, ldc, kb == 0 && !accumulate, lanes);
  }
}

// One 16-column panel (two vectors) over the whole inner dimension.
template <int R, bool Pure>
void panel_chunk(std::size_t k, const float* a, std::size_t lda, const float* p, float* c, std::size_t ldc,
                 bool accumulate, unsigned lanes16, std::size_t width) {
  const __m256i m0 = first_lanes(width < 8 ? width : 8);
  const __m256i m1 = first_lanes(width > 8 ? width - 8 : 0);
  const bool whole = width == 16;
  const __m256 f0 = lane_select(lanes16 & 0xFFu);
  const __m256 f1 = lane_select((lanes16 >> 8) & 0xFFu);
  __m256 acc0[R];
  __m256 acc1[R];
  for (int i = 0; i < R; ++i) {
    acc0[i] = accumulate ? load_part(c + i * ldc, m0, whole) : _mm256_setzero_ps();
    acc1[i] = accumulate ? load_part(c + i * ldc + 8, m1, whole) : _mm256_setzero_ps();
  }
  for (std::size_t kk = 0; kk < k; ++kk) {
    const __m256 x0 = _mm256_loadu_ps(p + kk * 16);
    const __m256 x1 = _mm256_loadu_ps(p + kk * 16 + 8);
    for (int i = 0; i < R; ++i) {
      const __m256 av = _mm256_broadcast_ss(a + i * lda + kk);
      acc0[i] = step<Pure>(acc0[i], av, x0, f0);
      acc1[i] = step<Pure>(acc1[i], av, x1, f1);
    }
  }
  for (int i = 0; i < R; ++i) {
    store_part(c + i * ldc, m0, whole, acc0[i]);
    store_part(c + i * ldc + 8, m1, whole, acc1[i]);
  }
}

template <int R>
void panels_all(std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* panels,
                std::size_t stride, float* c, std::size_t ldc, bool accumulate, const std::uint16_t* lanes) {
  for (std::size_t j = 0; j < n; j += 16) {
    const std::size_t w = n - j < 16 ? n - j : 16;
    const unsigned l = lanes[j / 16];
    const float* p = panels + (j / 16) * stride;
    if (l == 0xFFFFu) {
      panel_chunk<R, true>(k, a, lda, p, c + j, ldc, accumulate, l, w);
    } else {
      panel_chunk<R, false>(k, a, lda, p, c + j, ldc, accumulate, l, w);
    }
  }
}

}  // namespace

void micro_avx2(std::size_t kc, const float* a, const float* b0, const float* /*b1*/, float* c, std::size_t ldc,
                bool accumulate, std::uint32_t fma_lanes) {
  if ((fma_lanes & 0xFFFFu) == 0xFFFFu) {
    micro_tile<true>(kc, a, b0, c, ldc, accumulate, fma_lanes);
  } else {
    micro_tile<false>(kc, a, b0, c, ldc, accumulate, fma_lanes);
  }
}

void stream_avx2(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* b,
                 std::size_t ldb, float* c, std::size_t ldc, bool accumulate, const std::uint16_t* fma_lanes) {
  switch (rows) {
    case 1: return stream_all<1, 4>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 2: return stream_all<2, 4>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 3: return stream_all<3, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 4: return stream_all<4, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 5: return stream_all<5, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 6: return stream_all<6, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 7: return stream_all<7, 1>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 8: return stream_all<8, 1>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    default: break;
  }
}

void stream_panels_avx2(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda,
                        const float* panels, std::size_t panel_stride, float* c, std::size_t ldc, bool accumulate,
                        const std::uint16_t* fma_lanes) {
  switch (rows) {
    case 1: return panels_all<1>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 2: return panels_all<2>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 3: return panels_all<3>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 4: return panels_all<4>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 5: return panels_all<5>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 6: return panels_all<6>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 7: return panels_all<7>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 8: return panels_all<8>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    default: break;
  }
}

}  // namespace tessary::cpu::mm
