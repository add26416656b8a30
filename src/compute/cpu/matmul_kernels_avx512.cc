// AVX-512F tier of the binary32 matrix-product kernels.
//
// Only the explicit fmadd intrinsics fuse; the compiler must not contract a
// separate multiply and add. Tier 3 is chosen on AVX-512F alone, so the
// wider AVX-512 subsets that the build enables for this file are switched
// off again.
#pragma GCC optimize("fp-contract=off")
#pragma GCC target("no-avx512bw,no-avx512dq,no-avx512vl")

#include <immintrin.h>

#include "compute/cpu/matmul_tier_kernels.h"

namespace tessary::cpu::mm {
namespace {

constexpr int kRows = static_cast<int>(kAvx512TileRows);
constexpr __mmask16 kAllLanes = 0xFFFF;

// One accumulation step on lanes that differ in how they accumulate: the
// lanes of `fused` take a * b + acc with one rounding, the others
// acc + round(a * b).
inline __m512 step_mixed(__m512 acc, __m512 a, __m512 b, __mmask16 fused) {
  const __m512 f = _mm512_mask3_fmadd_ps(a, b, acc, fused);
  return _mm512_mask_add_ps(f, static_cast<__mmask16>(~fused), acc, _mm512_mul_ps(a, b));
}

template <bool Pure>
inline __m512 step(__m512 acc, __m512 a, __m512 b, __mmask16 fused) {
  if constexpr (Pure) {
    return _mm512_fmadd_ps(a, b, acc);
  } else {
    return step_mixed(acc, a, b, fused);
  }
}

template <bool Pure>
void micro_tile(std::size_t kc, const float* a, const float* b0, const float* b1, float* c, std::size_t ldc,
                bool accumulate, std::uint32_t fma_lanes) {
  __m512 c0[kRows];
  __m512 c1[kRows];
#pragma GCC unroll 12
  for (int r = 0; r < kRows; ++r) {
    c0[r] = accumulate ? _mm512_loadu_ps(c + r * ldc) : _mm512_setzero_ps();
    c1[r] = accumulate ? _mm512_loadu_ps(c + r * ldc + 16) : _mm512_setzero_ps();
  }
  const auto f0 = static_cast<__mmask16>(fma_lanes);
  const auto f1 = static_cast<__mmask16>(fma_lanes >> 16);
  for (std::size_t kk = 0; kk < kc; ++kk) {
    const __m512 x0 = _mm512_loadu_ps(b0);
    const __m512 x1 = _mm512_loadu_ps(b1);
#pragma GCC unroll 12
    for (int r = 0; r < kRows; ++r) {
      const __m512 av = _mm512_set1_ps(a[r]);
      c0[r] = step<Pure>(c0[r], av, x0, f0);
      c1[r] = step<Pure>(c1[r], av, x1, f1);
    }
    a += kRows;
    b0 += 16;
    b1 += 16;
  }
#pragma GCC unroll 12
  for (int r = 0; r < kRows; ++r) {
    _mm512_storeu_ps(c + r * ldc, c0[r]);
    _mm512_storeu_ps(c + r * ldc + 16, c1[r]);
  }
}

// With three or more rows the row stream is busy enough computing that the
// hardware prefetchers fall behind; it prefetches each B row a few lines
// ahead of its loads (distance in floats: four cache lines).
constexpr std::size_t kStreamPrefetch = 64;

__mmask16 tail_mask(std::size_t count) { return static_cast<__mmask16>((1u << count) - 1u); }

// Rows R of C over columns [j, j + 16 V) for the inner steps [0, kn) of
// this block. `mask` limits loads and stores to the real columns of a
// partial last chunk (all lanes otherwise).
template <int R, int V, bool Pure>
inline void stream_chunk(std::size_t kn, const float* a, std::size_t lda, const float* b, std::size_t ldb, float* c,
                         std::size_t ldc, bool first, const std::uint16_t* lanes, __mmask16 mask) {
  __m512 acc[R][V];
  __mmask16 f[V];
  for (int v = 0; v < V; ++v) f[v] = lanes[v];
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) {
      acc[i][v] = first ? _mm512_setzero_ps() : _mm512_maskz_loadu_ps(mask, c + i * ldc + 16 * v);
    }
  }
  for (std::size_t kk = 0; kk < kn; ++kk) {
    __m512 x[V];
    for (int v = 0; v < V; ++v) x[v] = _mm512_maskz_loadu_ps(mask, b + kk * ldb + 16 * v);
    if constexpr (R >= 3) {
      for (int v = 0; v < V; ++v) {
        _mm_prefetch(reinterpret_cast<const char*>(b + kk * ldb + 16 * v + kStreamPrefetch), _MM_HINT_T0);
      }
    }
    for (int i = 0; i < R; ++i) {
      const __m512 av = _mm512_set1_ps(a[i * lda + kk]);
      for (int v = 0; v < V; ++v) acc[i][v] = step<Pure>(acc[i][v], av, x[v], f[v]);
    }
  }
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) _mm512_mask_storeu_ps(c + i * ldc + 16 * v, mask, acc[i][v]);
  }
}

template <int V>
bool pure_lanes(const std::uint16_t* lanes) {
  for (int v = 0; v < V; ++v) {
    if (lanes[v] != kAllLanes) return false;
  }
  return true;
}

// Inner steps [0, kn) of one block over all n columns.
template <int R, int V>
void stream_rows(std::size_t kn, std::size_t n, const float* a, std::size_t lda, const float* b, std::size_t ldb,
                 float* c, std::size_t ldc, bool first, const std::uint16_t* lanes) {
  std::size_t j = 0;
  for (; j + 16 * V <= n; j += 16 * V) {
    const std::uint16_t* l = lanes + j / 16;
    if (pure_lanes<V>(l)) {
      stream_chunk<R, V, true>(kn, a, lda, b + j, ldb, c + j, ldc, first, l, kAllLanes);
    } else {
      stream_chunk<R, V, false>(kn, a, lda, b + j, ldb, c + j, ldc, first, l, kAllLanes);
    }
  }
  for (; j < n; j += 16) {
    const std::size_t w = n - j < 16 ? n - j : 16;
    stream_chunk<R, 1, false>(kn, a, lda, b + j, ldb, c + j, ldc, first, lanes + j / 16, tail_mask(w));
  }
}

// The row stream reads B in blocks of whole rows, walking the rows of a
// block side by side, each sequentially; C is loaded and stored once per
// block.
constexpr std::size_t kStreamBlock = 64;

template <int R, int V>
void stream_all(std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* b, std::size_t ldb,
                float* c, std::size_t ldc, bool accumulate, const std::uint16_t* lanes) {
  for (std::size_t kb = 0; kb < k; kb += kStreamBlock) {
    const std::size_t kn = k - kb < kStreamBlock ? k - kb : kStreamBlock;
    stream_rows<R, V>(kn, n, a + kb, lda, b + kb * ldb, ldb, c, ldc, kb == 0 && !accumulate, lanes);
  }
}

// Panels q .. q + V - 1 over the whole inner dimension, C in registers.
template <int R, int V, bool Pure>
void panel_chunk(std::size_t k, const float* a, std::size_t lda, const float* panels, std::size_t stride, float* c,
                 std::size_t ldc, bool accumulate, const std::uint16_t* lanes, __mmask16 last_mask) {
  __m512 acc[R][V];
  __mmask16 f[V];
  __mmask16 store_mask[V];
  for (int v = 0; v < V; ++v) {
    f[v] = lanes[v];
    store_mask[v] = v == V - 1 ? last_mask : kAllLanes;
  }
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) {
      acc[i][v] = accumulate ? _mm512_maskz_loadu_ps(store_mask[v], c + i * ldc + 16 * v) : _mm512_setzero_ps();
    }
  }
  const float* p[V];
  for (int v = 0; v < V; ++v) p[v] = panels + v * stride;
  for (std::size_t kk = 0; kk < k; ++kk) {
    __m512 x[V];
    for (int v = 0; v < V; ++v) x[v] = _mm512_loadu_ps(p[v] + kk * 16);
    for (int i = 0; i < R; ++i) {
      const __m512 av = _mm512_set1_ps(a[i * lda + kk]);
      for (int v = 0; v < V; ++v) acc[i][v] = step<Pure>(acc[i][v], av, x[v], f[v]);
    }
  }
  for (int i = 0; i < R; ++i) {
    for (int v = 0; v < V; ++v) _mm512_mask_storeu_ps(c + i * ldc + 16 * v, store_mask[v], acc[i][v]);
  }
}

template <int R, int V>
void panels_all(std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* panels,
                std::size_t stride, float* c, std::size_t ldc, bool accumulate, const std::uint16_t* lanes) {
  std::size_t j = 0;
  for (; j + 16 * V <= n; j += 16 * V) {
    const std::uint16_t* l = lanes + j / 16;
    const float* p = panels + (j / 16) * stride;
    if (pure_lanes<V>(l)) {
      panel_chunk<R, V, true>(k, a, lda, p, stride, c + j, ldc, accumulate, l, kAllLanes);
    } else {
      panel_chunk<R, V, false>(k, a, lda, p, stride, c + j, ldc, accumulate, l, kAllLanes);
    }
  }
  for (; j < n; j += 16) {
    const std::size_t w = n - j < 16 ? n - j : 16;
    panel_chunk<R, 1, false>(k, a, lda, panels + (j / 16) * stride, stride, c + j, ldc, accumulate, lanes + j / 16,
                             tail_mask(w));
  }
}

// In-register transpose of 16 rows of 16 values: out[c] lane r = in[r] lane c.
inline void transpose16(__m512 r[16]) {
  __m512 t[16];
  for (int i = 0; i < 8; ++i) {
    t[2 * i] = _mm512_unpacklo_ps(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_ps(r[2 * i], r[2 * i + 1]);
  }
  __m512 u[16];
  for (int i = 0; i < 4; ++i) {
    u[4 * i + 0] = _mm512_shuffle_ps(t[4 * i + 0], t[4 * i + 2], 0x44);
    u[4 * i + 1] = _mm512_shuffle_ps(t[4 * i + 0], t[4 * i + 2], 0xEE);
    u[4 * i + 2] = _mm512_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0x44);
    u[4 * i + 3] = _mm512_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0xEE);
  }
  // u[4g + c], 128-bit lane l: rows 4g .. 4g + 3 of column 4l + c.
  for (int c = 0; c < 4; ++c) {
    const __m512 v0 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0x88);
    const __m512 v1 = _mm512_shuffle_f32x4(u[c], u[4 + c], 0xDD);
    const __m512 v2 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0x88);
    const __m512 v3 = _mm512_shuffle_f32x4(u[8 + c], u[12 + c], 0xDD);
    r[c] = _mm512_shuffle_f32x4(v0, v2, 0x88);
    r[c + 8] = _mm512_shuffle_f32x4(v0, v2, 0xDD);
    r[c + 4] = _mm512_shuffle_f32x4(v1, v3, 0x88);
    r[c + 12] = _mm512_shuffle_f32x4(v1, v3, 0xDD);
  }
}

}  // namespace

void pack_a_avx512(const float* a, std::size_t lda, std::size_t mc, std::size_t kc, std::size_t mr, float* out) {
  const __mmask16 step_mask = tail_mask(mr < 16 ? mr : 16);
  for (std::size_t ir = 0; ir < mc; ir += mr) {
    float* dst = out + ir * kc;
    const std::size_t rows = mc - ir < mr ? mc - ir : mr;
    std::size_t kk = 0;
    if (mr <= 16) {
      // Sixteen steps at a time: load the panel's rows, transpose, store
      // each step's mr values.
      for (; kk + 16 <= kc; kk += 16) {
        __m512 r[16];
        for (std::size_t i = 0; i < 16; ++i) {
          r[i] = i < rows ? _mm512_loadu_ps(a + (ir + i) * lda + kk) : _mm512_setzero_ps();
        }
        transpose16(r);
        for (std::size_t s = 0; s < 16; ++s) _mm512_mask_storeu_ps(dst + (kk + s) * mr, step_mask, r[s]);
      }
    }
    for (; kk < kc; ++kk) {
      for (std::size_t i = 0; i < mr; ++i) dst[kk * mr + i] = i < rows ? a[(ir + i) * lda + kk] : 0.0f;
    }
  }
}

void pack_b_avx512(const float* b, std::size_t ldb, std::size_t kc, std::size_t nc, float* out) {
  // Row by row: B is read along its rows (sequential, prefetcher friendly)
  // and each row's 16-value pieces go to their panels, which stay in cache.
  const std::size_t full = nc / 16;
  const std::size_t w = nc % 16;
  const __mmask16 mask = tail_mask(w);
  const std::size_t panel = kc * 16;
  for (std::size_t kk = 0; kk < kc; ++kk) {
    const float* src = b + kk * ldb;
    float* dst = out + kk * 16;
    for (std::size_t q = 0; q < full; ++q) _mm512_storeu_ps(dst + q * panel, _mm512_loadu_ps(src + q * 16));
    if (w != 0) _mm512_storeu_ps(dst + full * panel, _mm512_maskz_loadu_ps(mask, src + full * 16));
  }
}

void micro_avx512(std::size_t kc, const float* a, const float* b0, const float* b1, float* c, std::size_t ldc,
                  bool accumulate, std::uint32_t fma_lanes) {
  if (fma_lanes == 0xFFFFFFFFu) {
    micro_tile<true>(kc, a, b0, b1, c, ldc, accumulate, fma_lanes);
  } else {
    micro_tile<false>(kc, a, b0, b1, c, ldc, accumulate, fma_lanes);
  }
}

void stream_avx512(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda, const float* b,
                   std::size_t ldb, float* c, std::size_t ldc, bool accumulate, const std::uint16_t* fma_lanes) {
  switch (rows) {
    case 1: return stream_all<1, 4>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 2: return stream_all<2, 4>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 3: return stream_all<3, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 4: return stream_all<4, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 5: return stream_all<5, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 6: return stream_all<6, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 7: return stream_all<7, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    case 8: return stream_all<8, 2>(k, n, a, lda, b, ldb, c, ldc, accumulate, fma_lanes);
    default: break;
  }
}

void stream_panels_avx512(std::size_t rows, std::size_t k, std::size_t n, const float* a, std::size_t lda,
                          const float* panels, std::size_t panel_stride, float* c, std::size_t ldc, bool accumulate,
                          const std::uint16_t* fma_lanes) {
  switch (rows) {
    case 1: return panels_all<1, 4>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 2: return panels_all<2, 4>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 3: return panels_all<3, 2>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 4: return panels_all<4, 2>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 5: return panels_all<5, 2>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 6: return panels_all<6, 2>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 7: return panels_all<7, 2>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    case 8: return panels_all<8, 2>(k, n, a, lda, panels, panel_stride, c, ldc, accumulate, fma_lanes);
    default: break;
  }
}

}  // namespace tessary::cpu::mm
